#include "panel_success.h"

#include "BinaryData.h"
#include "Icons.h"
#include "Palette.h"

panel_success::panel_success()
{
    success = true;
    scale = 9.0f;

    // These two keep their own colours.
    successIcon = loadIconAsDrawn (BinaryData::icon_success_svg, BinaryData::icon_success_svgSize);
    warningIcon = loadIconAsDrawn (BinaryData::icon_warning_svg, BinaryData::icon_warning_svgSize);
}

panel_success::~panel_success() = default;

//==============================================================================
void panel_success::paint (juce::Graphics& g)
{
    const auto s = scale;
    const juce::Rectangle<float> card (35.0f * s, 35.0f * s,
                                       juce::jmax (0.0f, (float) getWidth() - 70.0f * s),
                                       juce::jmax (0.0f, (float) getHeight() - 70.0f * s));

    // No colour is chosen: the card takes the black a fresh context starts with,
    // which is what the fading snapshot of this panel is painted into.
    g.fillRoundedRectangle (card, s);

    g.setColour (Palette::textColour);
    g.drawRoundedRectangle (card, s, 0.25f * s);

    g.setColour (juce::Colours::white);
    g.setFont (3.0f * s);

    if (auto* icon = success ? successIcon.get() : warningIcon.get())
        icon->drawWithin (g, card.reduced (8.0f * s), juce::RectanglePlacement::centred, 1.0f);

    g.drawText (success ? "Operation Successful!" : "Operation failed!",
                card.reduced (2.0f * s), juce::Justification::centredBottom, true);
}

void panel_success::resized()
{
    // The card follows the panel's size in paint; there are no children.
}
