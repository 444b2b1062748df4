// Every call that changes the disk, made to fail in turn: whatever fails, the
// run says so, the bundle path holds a whole bundle (or, after an uninstall,
// a whole one or none), and the next run cleans up and succeeds.
#include "Installer.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include "PosixCalls.h"
 #include "support/FaultInjection.h"

 #include "InstallerHooks.h"

 #include <algorithm>
 #include <cerrno>
 #include <iostream>
 #include <map>
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

bool runVst3 (const juce::File& folder, bool uninstall, const juce::MemoryBlock& archive, const juce::File& state = {})
{
    PerFormat<bool> selection { true, false, false };
    return processSelectedFormats (selection, uninstall, { folder, {}, {} }, "Velquin",
                                   { PayloadArchive { archive.getData(), archive.getSize() }, {}, {} }, nullptr, { state });
}

juce::String moduleOf (const juce::File& folder)
{
    return folder.getChildFile ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3").loadFileAsString();
}

//==============================================================================
/** Every entry below a folder, links not followed: path -> kind and content. */
std::map<std::string, std::string> treeOf (const juce::File& root)
{
    std::map<std::string, std::string> tree;

    for (const auto& entry : juce::RangedDirectoryIterator (root, true, "*", juce::File::findFilesAndDirectories))
    {
        const auto f = entry.getFile();
        tree[f.getRelativePathFrom (root).toStdString()] = entry.isDirectory() ? std::string ("dir") : f.loadFileAsString().toStdString();
    }

    return tree;
}

/** The errnos a call may give, from its manual page; EIO, ENOSPC, EDQUOT and
    EROFS wherever the disk can fail it, EINTR where a signal can. */
std::vector<int> errorsOf (const std::string& function)
{
    if (function == "write")       return { EIO, ENOSPC, EDQUOT, EINTR };
    if (function == "fsync")       return { EIO, ENOSPC, EDQUOT, EROFS, EINTR };
    if (function == "close")       return { EIO, ENOSPC, EDQUOT, EINTR };
    if (function == "openat")      return { EIO, ENOSPC, EDQUOT, EROFS, EINTR };
    if (function == "flock")       return { EINTR, ENOLCK };
    if (function == "syncfs")      return { EIO, ENOSPC, EDQUOT };
    if (function == "unlinkat" || function == "fchmod" || function == "futimens")
        return { EIO, EROFS };

    return { EIO, ENOSPC, EDQUOT, EROFS };   // mkdirat, renameat, renameat2
}

/** One operation of the table, from a laid-out disk. */
struct Operation
{
    const char* name;
    bool uninstall;
    bool oldBundleFirst;
    bool twoRenames;
};

/** A fresh machine for one row: the target folder (below a folder that is
    not there yet, for a first install), the state folder, the archives. */
struct Machine
{
    juce::File root;
    juce::File folder = root.getChildFile ("lib/vst3");
    juce::File state = root.getChildFile ("state");
    juce::MemoryBlock oldArchive = vst3Archive (1), newArchive = vst3Archive (2);
    std::map<std::string, std::string> oldTree, newTree;

    /** A fresh folder below base, and the old bundle laid out in it by a run of
        its own when the operation starts from one. */
    Machine (const juce::File& base, const Operation& op)
        : root (base.getNonexistentChildFile ("machine", {}, false))
    {
        static const auto trees = [&base]
        {
            // What each archive gives, from runs of their own.
            Machine m (base);
            runVst3 (m.folder, false, m.newArchive, m.state);
            auto fresh = treeOf (m.folder);
            runVst3 (m.folder, false, m.oldArchive, m.state);
            return std::make_pair (treeOf (m.folder), fresh);
        }();

        oldTree = trees.first;
        newTree = trees.second;

        if (op.oldBundleFirst)
            runVst3 (folder, false, oldArchive, state);
    }

    explicit Machine (const juce::File& base) : root (base.getNonexistentChildFile ("machine", {}, false)) {}

    ~Machine()   { root.deleteRecursively(); }

    bool run (const Operation& op)
    {
        ScopedTwoRenames twoRenames (op.twoRenames);
        return runVst3 (folder, op.uninstall, newArchive, state);
    }

    struct ScopedTwoRenames
    {
        explicit ScopedTwoRenames (bool on)   { installerHooks().forceTwoRenames = on; }
        ~ScopedTwoRenames()                   { installerHooks().forceTwoRenames = false; }
    };

    /** What the bundle path holds: "old", "new", "none" or "damaged". */
    std::string bundleState() const
    {
        const auto bundle = folder.getChildFile ("Velquin.vst3");

        if (! bundle.exists())
            return "none";

        auto tree = treeOf (folder);

        for (auto it = tree.begin(); it != tree.end();)
            it = it->first.rfind ("Velquin.vst3", 0) == 0 ? std::next (it) : tree.erase (it);

        return tree == oldTree ? "old" : tree == newTree ? "new" : "damaged";
    }

    /** Everything in the target folder but the bundle, and every record left in the state folder. */
    std::string leftovers() const
    {
        std::string found;

        for (auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
            if (f.getFileName() != "Velquin.vst3")
                found += " " + f.getFileName().toStdString();

        for (auto& f : state.findChildFiles (juce::File::findFiles, false))
            if (! f.getFileName().endsWith (".lock"))
                found += " state/" + f.getFileName().toStdString();

        return found;
    }
};
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

#if ! JUCE_WINDOWS
//==============================================================================
// The table: each call of an install, an update, an uninstall and an update
// in two renames, failed in turn with each errno it may give. The run must say
// it failed (a write interrupted by a signal is retried, and may succeed),
// the bundle path must hold the whole old or the whole new bundle (after an
// uninstall the whole bundle or none), and the next run must succeed and
// leave nothing but the bundle: no staging folder, nothing set aside, no
// record in the state folder.
TEST (FailurePoints, EveryCallFailingLeavesAWholeBundleAndTheNextRunCleansUp)
{
    const Operation operations[] = {
        { "install",               false, false, false },
        { "update",                false, true,  false },
        { "update in two renames", false, true,  true },
        { "uninstall",             true,  true,  false },
    };

    TempFolder temp;

    const auto message = inChild ([&]() -> std::string
    {
    // On a tmpfs of its own: hundreds of runs, each with its syncs.
    if (auto failure = enterPrivateTmpfs (temp.get().getFullPathName().toRawUTF8(), "64m"); ! failure.empty())
        return failure;

    const auto base = temp.get();
    size_t rows = 0;
    std::string failures;

    for (auto& op : operations)
    {
        std::vector<FaultInjection::Call> recorded;
        {
            Machine m (base, op);
            FaultInjection faults;
            if (! m.run (op))
                return std::string (op.name) + " failed without a fault";

            recorded = faults.calls();
        }

        for (size_t n = 0; n < recorded.size(); ++n)
        {
            for (const int error : errorsOf (recorded[n].function))
            {
                ++rows;
                Machine m (base, op);
                const auto before = m.bundleState();
                bool ok = false;
                bool injected = false;
                std::string seen;
                {
                    FaultInjection faults;
                    faults.failAt (n, error);
                    ok = m.run (op);
                    injected = faults.injected();
                    seen = n < faults.calls().size() ? faults.calls()[n].function : "nothing";
                }

                const auto row = std::string (op.name) + " #" + std::to_string (n) + " " + FaultInjection::describe ({ recorded[n].function, recorded[n].path, error }) + ": ";
                const auto now = m.bundleState();
                const auto expectedAfter = op.uninstall ? "none" : "new";
                const bool retried = error == EINTR && recorded[n].function == "write";

                if (! injected || seen != recorded[n].function)
                    failures += row + "the run took another course (call " + std::to_string (n) + " was " + seen + ")\n";
                else if (ok && ! retried)
                    failures += row + "reported success\n";
                else if (now != before && now != expectedAfter)
                    failures += row + "the bundle path holds " + now + "\n";
                else if (ok && now != expectedAfter)
                    failures += row + "success with the bundle path holding " + now + "\n";

                const bool next = m.run (op);

                if (! next || m.bundleState() != expectedAfter)
                    failures += row + "the next run " + (next ? "left the bundle path holding " + m.bundleState() : std::string ("failed")) + "\n";
                else if (const auto left = m.leftovers(); ! left.empty())
                    failures += row + "left after the next run:" + left + "\n";
            }
        }

        std::cout << "[  TABLE   ] " << op.name << ": " << recorded.size() << " calls" << std::endl;
    }

    std::cout << "[  TABLE   ] " << rows << " rows, " << std::count (failures.begin(), failures.end(), '\n') << " failing" << std::endl;
    return failures;
    }, 280);

    if (message.rfind ("skip:", 0) == 0)
        GTEST_SKIP() << message;

    EXPECT_EQ (message, "");
}
#endif
