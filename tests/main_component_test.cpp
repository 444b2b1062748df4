#include "Installer.h"
#include "InstallerHooks.h"
#include "MainComponent.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include <csignal>
 #include <sys/wait.h>
 #include <unistd.h>
#endif

namespace
{
    juce::StringArray childNames (const juce::Component& c)
    {
        juce::StringArray names;
        for (auto* child : c.getChildren())
            names.add (child->getName());
        return names;
    }
}

TEST (MainComponent, NineInvisibleButtonsThenTheHintLine)
{
    TempFolder temp;
    MainComponent main (temp.systemPaths());

    EXPECT_EQ (childNames (main), juce::StringArray ({ "EULA", "MANUAL", "WEBSITE", "SUPPORT",
                                                        "VST3", "CLAP", "AAX", "INSTALL", "SELECT_ALL", "" }));

    const auto& children = main.getChildren();
    for (int i = 0; i < 9; ++i)
    {
        auto* button = dynamic_cast<juce::TextButton*> (children[i]);
        ASSERT_NE (button, nullptr) << i;
        EXPECT_EQ (button->getAlpha(), 0.0f);
        EXPECT_TRUE (button->getButtonText().isEmpty());
        EXPECT_TRUE (button->getTooltip().isEmpty());
        EXPECT_TRUE (button->isVisible());
    }

    auto* hint = dynamic_cast<juce::Label*> (children[9]);
    ASSERT_NE (hint, nullptr);
    EXPECT_EQ (hint->getText(), OH_PROJECT_VERSION);
    EXPECT_EQ (hint->getJustificationType(), juce::Justification::centred);
    EXPECT_EQ (hint->findColour (juce::Label::textColourId), juce::Colour (0x80aaa6a6));

    EXPECT_EQ (main.getWidth(), 600);
    EXPECT_EQ (main.getHeight(), 600);
}

TEST (MainComponent, PreselectionFollowsPresenceForEachFormat)
{
    const bool patterns[][3] = { { false, false, false }, { true, false, true }, { false, true, false }, { true, true, true } };

    for (auto& present : patterns)
    {
        TempFolder temp;
        const auto paths = temp.systemPaths();
        const auto folders = defaultFormatFolders (paths.defaultFolderBase);

        for (int k = 0; k < numFormats; ++k)
            if (present[k])
                bundlePath (folders[(size_t) k], Product::displayName(), k).createDirectory();

        MainComponent main (paths);
        for (int k = 0; k < numFormats; ++k)
            EXPECT_EQ (main.getFormatSelected()[(size_t) k], present[k]) << "format " << k;
    }
}

TEST (MainComponent, InstallsItsLookAndFeelAsTheDesktopDefault)
{
    TempFolder temp;
    auto main = std::make_unique<MainComponent> (temp.systemPaths());
    EXPECT_NE (dynamic_cast<CustomLookAndFeel*> (&juce::Desktop::getInstance().getDefaultLookAndFeel()), nullptr);

    // Held only weakly: the desktop falls back to the framework's own when it goes.
    main.reset();
    EXPECT_EQ (dynamic_cast<CustomLookAndFeel*> (&juce::Desktop::getInstance().getDefaultLookAndFeel()), nullptr);
}

#if ! JUCE_WINDOWS
// A replacement killed between its two renames leaves the old bundle set aside
// and nothing at the bundle path. The next start puts it back before it looks,
// so the format starts selected, as it was before the run.
TEST (MainComponent, StartPutsBackABundleThatAKilledRunSetAside)
{
    TempFolder temp;
    const auto paths = temp.systemPaths();
    const auto folders = defaultFormatFolders (paths.defaultFolderBase);
    const auto bundle = bundlePath (folders[0], Product::displayName(), 0);

    PerFormat<bool> vst3 { true, false, false };
    ASSERT_TRUE (processSelectedFormats (vst3, false, folders, Product::displayName(), embeddedPayloads(), nullptr, { paths.stateFolder }));
    const auto before = bundle.findChildFiles (juce::File::findFilesAndDirectories, true).size();
    ASSERT_GT (before, 0);

    const auto pid = fork();

    if (pid == 0)
    {
        installerHooks().forceTwoRenames = true;
        installerHooks().betweenRenames = [] { raise (SIGKILL); };
        PerFormat<bool> again { true, false, false };
        processSelectedFormats (again, false, folders, Product::displayName(), embeddedPayloads(), nullptr, { paths.stateFolder });
        _exit (0);
    }

    int status = 0;
    ASSERT_EQ (waitpid (pid, &status, 0), pid);
    ASSERT_TRUE (WIFSIGNALED (status) && WTERMSIG (status) == SIGKILL) << "the run was not stopped between the renames";
    ASSERT_FALSE (bundle.exists()) << "the kill did not leave the bundle set aside";

    MainComponent main (paths);
    ASSERT_EQ (main.getFormatFolders()[0], folders[0]);
    EXPECT_TRUE (bundle.isDirectory());
    EXPECT_EQ (bundle.findChildFiles (juce::File::findFilesAndDirectories, true).size(), before);
    EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { true, false, false }));
}
#endif
