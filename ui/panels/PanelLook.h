#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** What the panels share: their proportional bounds, their invisible buttons,
    the close glyph and the tile colours. */
namespace PanelLook
{
    /** (x, y, w, h) units of scale, each rounded to the nearest pixel, halves to even. */
    juce::Rectangle<int> unitBounds (float x, float y, float w, float h, float scale);

    /** A transparent text button named name, added to owner, which listens to it.
        The owner paints everything the user sees of it. */
    std::unique_ptr<juce::TextButton> makeButton (juce::Component& owner,
                                                  juce::Button::Listener& listener,
                                                  const juce::String& name);

    /** Full muted while the mouse is over the close button, half muted otherwise. */
    juce::Colour closeGlyphColour (bool isMouseOver);

    /** Green while pressed, then muted at 0xBF while hovered, else muted at 0x80. */
    juce::Colour tileColour (bool isMouseButtonDown, bool isMouseOver);

    /** The ring with an "X" inside the close button's bounds. */
    void drawCloseGlyph (juce::Graphics&, const juce::Button& closeButton, float scale);

    /** The close button's layout, the same on every panel that has one. */
    juce::Rectangle<int> closeButtonBounds (float scale);

    /** Takes the panel out of its parent; its owner keeps and later deletes it. */
    void close (juce::Component& panel);
}
