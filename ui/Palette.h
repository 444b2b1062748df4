#pragma once

#include <juce_graphics/juce_graphics.h>

/** The ten colours of the face, grouped by role. */
namespace Palette
{
    // Surfaces
    inline const juce::Colour backgroundColour { 0xff111111 };
    inline const juce::Colour inkColour        { 0xff171717 };

    // Text
    inline const juce::Colour textColour       { 0xfff5f5f5 };
    inline const juce::Colour mutedColour      { 0xffaaa6a6 };

    // Signals
    inline const juce::Colour accentColour     { 0xff86cf7a };
    inline const juce::Colour brandColour      { 0xff0094d8 };
    inline const juce::Colour selectionColour  { 0xffd3c55f };

    // Defined with the palette; no screen uses them.
    inline const juce::Colour slateColour      { 0xff393e44 };
    inline const juce::Colour nightColour      { 0xff101316 };
    inline const juce::Colour gunmetalColour   { 0xff21272c };
}
