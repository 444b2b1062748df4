#include "MainComponent.h"
#include "support/FaceTables.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
    using FaceTables::Bounds;

    Bounds childBounds (const juce::Component& c)
    {
        Bounds result;
        for (auto* child : c.getChildren())
            result[child->getName().isEmpty() ? juce::String ("hint") : child->getName()] = child->getBounds();
        return result;
    }
}

TEST (Layout, ChildBoundsAtEachSize)
{
    TempFolder temp;
    MainComponent main (temp.systemPaths());

    for (auto& c : FaceTables::layouts)
    {
        main.setSize (c.size, c.size);
        const auto actual = childBounds (main);

        for (auto& [name, bounds] : c.children)
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
