#include "PanelLook.h"

#include "Palette.h"

namespace PanelLook
{
    juce::Rectangle<int> unitBounds (float x, float y, float w, float h, float scale)
    {
        return { juce::roundToInt (x * scale), juce::roundToInt (y * scale),
                 juce::roundToInt (w * scale), juce::roundToInt (h * scale) };
    }

    std::unique_ptr<juce::TextButton> makeButton (juce::Component& owner,
                                                  juce::Button::Listener& listener,
                                                  const juce::String& name)
    {
        auto button = std::make_unique<juce::TextButton>();
        owner.addAndMakeVisible (*button);
        button->setName (name);
        button->setAlpha (0.0f);
        // Invisible under a painted face: keyboard focus would let Return click it.
        button->setWantsKeyboardFocus (false);
        button->setMouseClickGrabsKeyboardFocus (false);
        button->addListener (&listener);
        return button;
    }

    juce::Colour closeGlyphColour (bool isMouseOver)
    {
        return isMouseOver ? Palette::mutedColour
                           : Palette::mutedColour.withAlpha ((juce::uint8) 0x80);
    }

    juce::Colour tileColour (bool isMouseButtonDown, bool isMouseOver)
    {
        if (isMouseButtonDown)
            return Palette::accentColour;

        return Palette::mutedColour.withAlpha ((juce::uint8) (isMouseOver ? 0xbf : 0x80));
    }

    void drawCloseGlyph (juce::Graphics& g, const juce::Button& closeButton, float scale)
    {
        const auto r = closeButton.getBounds().toFloat().reduced (2.0f * scale);

        g.setColour (closeGlyphColour (closeButton.isMouseOver()));
        g.drawEllipse (r, 0.25f * scale);
        g.setFont (3.0f * scale);
        g.drawText ("X", r, juce::Justification::centred, true);
    }

    juce::Rectangle<int> closeButtonBounds (float scale)
    {
        return unitBounds (88.0f, 1.5f, 8.0f, 8.0f, scale);
    }

    void close (juce::Component& panel)
    {
        if (auto* parent = panel.getParentComponent())
            parent->removeChildComponent (&panel);
    }
}
