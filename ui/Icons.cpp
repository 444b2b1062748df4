#include "Icons.h"

#include "Palette.h"

std::unique_ptr<juce::Drawable> loadIcon (const char* data, int size)
{
    auto icon = loadIconAsDrawn (data, size);

    if (icon != nullptr)
        icon->replaceColour (juce::Colours::black, Palette::inkColour);

    return icon;
}

std::unique_ptr<juce::Drawable> loadIconAsDrawn (const char* data, int size)
{
    return juce::Drawable::createFromImageData (data, (size_t) juce::jmax (0, size));
}
