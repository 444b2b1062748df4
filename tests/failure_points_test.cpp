// Every call that changes the disk, made to fail in turn: whatever fails, the
// run says so, the bundle path holds a whole bundle (or, after an uninstall,
// a whole one or none), and the next run cleans up and succeeds.
#include "Installer.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include "PosixCalls.h"
 #include "support/FaultInjection.h"

 #include <cerrno>
 #include <set>

namespace
{
juce::MemoryBlock vst3Archive (int seed)
{
    return ZipFixture()
        .directory ("Velquin.vst3\\Contents")
        .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (3000, seed))
        .file ("Velquin.vst3\\desktop.ini", juce::String ("[.ShellClassInfo]\r\n"))
        .build();
}

bool runVst3 (const juce::File& folder, bool uninstall, const juce::MemoryBlock& archive)
{
    PerFormat<bool> selection { true, false, false };
    return processSelectedFormats (selection, uninstall, { folder, {}, {} }, "Velquin",
                                   { PayloadArchive { archive.getData(), archive.getSize() }, {}, {} });
}

juce::String moduleOf (const juce::File& folder)
{
    return folder.getChildFile ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3").loadFileAsString();
}
} // namespace

//==============================================================================
// The seam sees each kind of call an install makes, fails the one asked for
// and nothing else, and leaves the system's own calls in force afterwards.
TEST (FaultSeam, RecordsTheCallsOfARunAndFailsTheOneAsked)
{
    TempFolder temp;
    const auto folder = temp["VST3"];
    const auto oldArchive = vst3Archive (1), newArchive = vst3Archive (2);
    ASSERT_TRUE (runVst3 (folder, false, oldArchive));
    const auto oldModule = moduleOf (folder);

    std::vector<FaultInjection::Call> calls;
    {
        FaultInjection faults;
        ASSERT_TRUE (runVst3 (folder, false, newArchive));
        calls = faults.calls();
        EXPECT_FALSE (faults.injected());
    }

    std::set<std::string> kinds;

    for (auto& call : calls)
        kinds.insert (call.function);

    for (auto* expected : { "mkdirat", "openat", "write", "futimens", "fsync", "renameat2", "unlinkat", "fchmod", "close", "flock" })
        EXPECT_EQ (kinds.count (expected), 1u) << expected << " was not seen";

    // The swap is the last rename: failing it keeps the bundle there.
    size_t swap = 0;

    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].function == "renameat2")
            swap = i;

    ASSERT_TRUE (runVst3 (folder, false, oldArchive));
    {
        FaultInjection faults;
        faults.failAt (swap, EIO);
        EXPECT_FALSE (runVst3 (folder, false, newArchive));
        EXPECT_TRUE (faults.injected());
        ASSERT_GT (faults.calls().size(), swap);
        EXPECT_EQ (faults.calls()[swap].function, "renameat2");
        EXPECT_EQ (faults.calls()[swap].error, EIO);
    }

    EXPECT_EQ (moduleOf (folder), oldModule);
    EXPECT_EQ (PosixCalls::current.fsync, PosixCalls::systemCalls().fsync) << "the system's calls are back";
    EXPECT_TRUE (runVst3 (folder, false, newArchive));
    EXPECT_NE (moduleOf (folder), oldModule);
}
#endif
