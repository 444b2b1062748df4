#include "MainComponent.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

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
