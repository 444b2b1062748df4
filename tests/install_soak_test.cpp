#include "Installer.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include <dirent.h>

namespace
{
    /** Descriptors this process has open (the listing's own included, as in every count). */
    int openDescriptors()
    {
        int count = 0;

        if (auto* dir = opendir ("/proc/self/fd"))
        {
            while (readdir (dir) != nullptr)
                ++count;

            closedir (dir);
        }

        return count;
    }
}

// An installer left open for a long session must not run out of descriptors:
// every cycle of install and uninstall hands back all that it opened.
TEST (InstallSoak, OpenDescriptorsStayFlatOverTwentyCycles)
{
    TempFolder temp;
    const PerFormat<juce::File> folders { temp["VST3"], temp["CLAP"], temp["Avid/Audio/Plug-Ins"] };

    // Small archives of the payload form: the same steps as the real payloads, a fraction of the bytes.
    const PerFormat<juce::MemoryBlock> archives {
        ZipFixture().directory ("Velquin.vst3\\Contents").file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (300000, 1))
                    .file ("Velquin.vst3\\desktop.ini", "[.ShellClassInfo]").build(),
        ZipFixture().file ("Velquin.clap", ZipFixture::sampleContent (200000, 2)).build(),
        ZipFixture().directory ("Velquin.aaxplugin\\Contents").file ("Velquin.aaxplugin\\Contents\\x64\\Velquin.aaxplugin", ZipFixture::sampleContent (100000, 3)).build() };
    PerFormat<PayloadArchive> payloads;
    for (size_t k = 0; k < payloads.size(); ++k)
        payloads[k] = { archives[k].getData(), archives[k].getSize() };

    const auto cycle = [&]
    {
        PerFormat<bool> all { true, true, true };
        ASSERT_TRUE (processSelectedFormats (all, false, folders, "Velquin", payloads));
        all = { true, true, true };
        ASSERT_TRUE (processSelectedFormats (all, true, folders, "Velquin", payloads));
    };

    cycle();   // whatever a first run opens for good is open from here on
    const auto before = openDescriptors();
    ASSERT_GT (before, 3);

    for (int i = 0; i < 20; ++i)
        cycle();

    EXPECT_EQ (openDescriptors(), before);
}
#endif
