#include "Palette.h"
#include "panels/panel_eula.h"
#include "panels/panel_support.h"
#include "support/RecordingGraphics.h"
#include "support/ScopedDefaultLookAndFeel.h"

#include <gtest/gtest.h>

using namespace Palette;

namespace
{
    // A support panel in a window of its own, driven by mouse events through its peer.
    struct PanelOnScreen : ::testing::Test
    {
        PanelOnScreen()
        {
            panel.scale = 6.0f;
            panel.setBounds (40, 40, 600, 600);
            panel.addToDesktop (0);
            panel.setVisible (true);
            panel.openLink = [this] (const juce::URL& url) { opened.add (url.toString (true)); return LinkOpening::started; };
            dispatch();
        }

        ~PanelOnScreen() override
        {
            moveTo ({ 300, 590 });
        }

        static void dispatch()      { juce::MessageManager::getInstance()->runDispatchLoopUntil (50); }

        void mouse (juce::Point<int> p, juce::ModifierKeys mods)
        {
            auto* peer = panel.getPeer();
            ASSERT_NE (peer, nullptr);

            // Hover is judged against the live pointer, so it moves too.
            juce::Desktop::setMousePosition (panel.localPointToGlobal (p));
            peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, p.toFloat(), mods,
                                    juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                    juce::Time::currentTimeMillis());
        }

        void moveTo (juce::Point<int> p)   { mouse (p, {}); }
        void press (juce::Point<int> p)    { mouse (p, juce::ModifierKeys::leftButtonModifier); }
        void release (juce::Point<int> p)  { mouse (p, {}); dispatch(); }

        // The colour of the first logged entry of the given kind whose bounds start at (x, y).
        juce::Colour colourAt (DrawEntry::Kind kind, float x, float y)
        {
            const auto log = RecordingGraphics::record ({ 0, 0, 600, 600 }, [this] (juce::Graphics& g) { panel.paint (g); });

            for (auto& e : log)
                if (e.kind == kind && std::abs (e.bounds.getX() - x) < 0.01f && std::abs (e.bounds.getY() - y) < 0.01f)
                    return e.colour;

            ADD_FAILURE() << "nothing drawn at " << x << ", " << y;
            return {};
        }

        juce::Colour discordTile()   { return colourAt (DrawEntry::Kind::roundedRect, 60.0f, 90.0f); }
        juce::Colour mailTile()      { return colourAt (DrawEntry::Kind::roundedRect, 60.0f, 210.0f); }
        juce::Colour closeRing()     { return colourAt (DrawEntry::Kind::outline, 539.25f, 20.25f); }

        ScopedDefaultLookAndFeel lookAndFeel;
        panel_support panel;
        juce::StringArray opened;
    };

    const auto idle = juce::Colour (0x80aaa6a6);
    const auto hovered = juce::Colour (0xbfaaa6a6);
}

TEST_F (PanelOnScreen, TilesAndCloseGlyphFollowHoverAndPress)
{
    moveTo ({ 300, 590 });
    EXPECT_EQ (discordTile(), idle);
    EXPECT_EQ (mailTile(), idle);
    EXPECT_EQ (closeRing(), idle);

    moveTo ({ 90, 120 });
    EXPECT_EQ (discordTile(), hovered);
    EXPECT_EQ (mailTile(), idle);

    press ({ 90, 120 });
    EXPECT_EQ (discordTile(), accentColour);
    release ({ 90, 120 });
    EXPECT_EQ (discordTile(), hovered);
    EXPECT_EQ (opened, juce::StringArray ({ "https://discord.gg/oakhaze" }));

    // Pressed, then dragged off the tile: the press look goes with the mouse.
    press ({ 90, 240 });
    EXPECT_EQ (mailTile(), accentColour);
    moveTo ({ 300, 590 });
    EXPECT_EQ (mailTile(), idle);

    moveTo ({ 552, 33 });
    EXPECT_EQ (closeRing(), mutedColour);
    EXPECT_EQ (discordTile(), idle);
}

TEST_F (PanelOnScreen, ClickOnTheCloseGlyphTakesThePanelOutOfItsParent)
{
    juce::Component parent;
    parent.setBounds (0, 0, 600, 600);

    panel_eula eula ("Agreement");
    eula.scale = 6.0f;
    eula.setBounds (0, 0, 600, 600);
    parent.addAndMakeVisible (eula);
    parent.addToDesktop (0);
    parent.setVisible (true);
    dispatch();

    auto* peer = parent.getPeer();
    ASSERT_NE (peer, nullptr);

    auto event = [&] (juce::Point<int> p, juce::ModifierKeys mods)
    {
        juce::Desktop::setMousePosition (parent.localPointToGlobal (p));
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, p.toFloat(), mods,
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                juce::Time::currentTimeMillis());
    };

    // A click beside the glyph hits nothing.
    event ({ 300, 30 }, juce::ModifierKeys::leftButtonModifier);
    event ({ 300, 30 }, {});
    dispatch();
    EXPECT_EQ (eula.getParentComponent(), &parent);

    event ({ 552, 33 }, {});
    event ({ 552, 33 }, juce::ModifierKeys::leftButtonModifier);
    event ({ 552, 33 }, {});
    dispatch();
    EXPECT_EQ (eula.getParentComponent(), nullptr);
    EXPECT_EQ (eula.getNumChildComponents(), 2);

    event ({ 300, 590 }, {});
}
