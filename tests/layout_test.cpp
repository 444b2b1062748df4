#include "MainComponent.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
    using Bounds = std::map<juce::String, juce::Rectangle<int>>;

    Bounds childBounds (const juce::Component& c)
    {
        Bounds result;
        for (auto* child : c.getChildren())
            result[child->getName().isEmpty() ? juce::String ("hint") : child->getName()] = child->getBounds();
        return result;
    }

    struct LayoutCase
    {
        int size;
        Bounds expected;
    };

    // One table per size; halves round to even (77.5 -> 78, 192.5 -> 192, 367.5 -> 368, 112.5 -> 112).
    const LayoutCase layoutCases[] = {
        { 600, { { "EULA", { 24, 441, 60, 60 } }, { "MANUAL", { 93, 441, 60, 60 } }, { "WEBSITE", { 162, 441, 60, 60 } },
                 { "SUPPORT", { 231, 441, 60, 60 } }, { "INSTALL", { 516, 441, 60, 60 } }, { "SELECT_ALL", { 480, 135, 96, 24 } },
                 { "VST3", { 24, 180, 270, 60 } }, { "CLAP", { 306, 180, 270, 60 } }, { "AAX", { 24, 252, 270, 60 } },
                 { "hint", { 24, 540, 552, 18 } } } },
        { 500, { { "EULA", { 20, 368, 50, 50 } }, { "MANUAL", { 78, 368, 50, 50 } }, { "WEBSITE", { 135, 368, 50, 50 } },
                 { "SUPPORT", { 192, 368, 50, 50 } }, { "INSTALL", { 430, 368, 50, 50 } }, { "SELECT_ALL", { 400, 112, 80, 20 } },
                 { "VST3", { 20, 150, 225, 50 } }, { "CLAP", { 255, 150, 225, 50 } }, { "AAX", { 20, 210, 225, 50 } },
                 { "hint", { 20, 450, 460, 15 } } } },
        { 1000, { { "EULA", { 40, 735, 100, 100 } }, { "MANUAL", { 155, 735, 100, 100 } }, { "WEBSITE", { 270, 735, 100, 100 } },
                  { "SUPPORT", { 385, 735, 100, 100 } }, { "INSTALL", { 860, 735, 100, 100 } }, { "SELECT_ALL", { 800, 225, 160, 40 } },
                  { "VST3", { 40, 300, 450, 100 } }, { "CLAP", { 510, 300, 450, 100 } }, { "AAX", { 40, 420, 450, 100 } },
                  { "hint", { 40, 900, 920, 30 } } } },
        { 128, { { "EULA", { 5, 94, 13, 13 } }, { "MANUAL", { 20, 94, 13, 13 } }, { "WEBSITE", { 35, 94, 13, 13 } },
                 { "SUPPORT", { 49, 94, 13, 13 } }, { "INSTALL", { 110, 94, 13, 13 } }, { "SELECT_ALL", { 102, 29, 20, 5 } },
                 { "VST3", { 5, 38, 58, 13 } }, { "CLAP", { 65, 38, 58, 13 } }, { "AAX", { 5, 54, 58, 13 } },
                 { "hint", { 5, 115, 118, 4 } } } },
    };
}

TEST (Layout, ChildBoundsAtEachSize)
{
    TempFolder temp;
    MainComponent main (temp.systemPaths());

    for (auto& c : layoutCases)
    {
        main.setSize (c.size, c.size);
        const auto actual = childBounds (main);

        for (auto& [name, bounds] : c.expected)
            EXPECT_EQ (actual.at (name), bounds) << name << " at " << c.size;

        // The hint line's font follows the unit: three units high.
        auto* hint = dynamic_cast<juce::Label*> (main.getChildren().getLast());
        ASSERT_NE (hint, nullptr);
        EXPECT_FLOAT_EQ (hint->getFont().getHeight(), 3.0f * (float) c.size * 0.01f) << c.size;
    }
}

TEST (Layout, OpenPanelsKeepCoveringTheMainComponent)
{
    TempFolder temp;
    MainComponent main (temp.systemPaths());

    auto click = [&] (const juce::String& name)
    {
        for (auto* child : main.getChildren())
            if (child->getName() == name)
                if (auto* b = dynamic_cast<juce::Button*> (child))
                    b->triggerClick();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);   // triggerClick posts its click
    };

    click ("EULA");
    click ("SUPPORT");
    ASSERT_NE (main.getEulaPanel(), nullptr);
    ASSERT_NE (main.getSupportPanel(), nullptr);
    EXPECT_EQ (main.getEulaPanel()->getBounds(), juce::Rectangle<int> (0, 0, 600, 600));
    EXPECT_FLOAT_EQ (main.getSupportPanel()->scale, 6.0f);

    main.setSize (1000, 1000);

    for (juce::Component* panel : { (juce::Component*) main.getEulaPanel(), (juce::Component*) main.getSupportPanel() })
    {
        EXPECT_EQ (panel->getBounds(), juce::Rectangle<int> (0, 0, 1000, 1000));
        EXPECT_TRUE (panel->isAlwaysOnTop());
    }
    EXPECT_FLOAT_EQ (main.getEulaPanel()->scale, 10.0f);
    EXPECT_FLOAT_EQ (main.getSupportPanel()->scale, 10.0f);

    // Panels sit above the buttons, so clicks land on the panel.
    main.setVisible (true);
    EXPECT_EQ (main.getComponentAt (30, 760), main.getSupportPanel());
}
