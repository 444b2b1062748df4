#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** An embedded SVG icon with its pure black recoloured to inkColour; null when
    the data is no drawable. Unfilled shapes render black too, so they follow. */
std::unique_ptr<juce::Drawable> loadIcon (const char* data, int size);

/** An embedded SVG icon in its own colours (the success and warning icons). */
std::unique_ptr<juce::Drawable> loadIconAsDrawn (const char* data, int size);
