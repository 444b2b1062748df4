#include "CustomLookAndFeel.h"

#include "BinaryData.h"
#include "Palette.h"

using namespace Palette;

CustomLookAndFeel::CustomLookAndFeel()
{
    regularTypeface = juce::Typeface::createSystemTypefaceFor (BinaryData::SourceSansProRegular_ttf,
                                                               (size_t) BinaryData::SourceSansProRegular_ttfSize);
    boldTypeface = juce::Typeface::createSystemTypefaceFor (BinaryData::SourceSansProBold_ttf,
                                                            (size_t) BinaryData::SourceSansProBold_ttfSize);

    setColour (juce::PopupMenu::backgroundColourId, backgroundColour);
    setColour (juce::PopupMenu::highlightedBackgroundColourId, accentColour.withAlpha (0.5f));
    setColour (juce::PopupMenu::textColourId, textColour);
    setColour (juce::PopupMenu::highlightedTextColourId, textColour);
    setColour (juce::AlertWindow::backgroundColourId, backgroundColour);
    setColour (juce::AlertWindow::textColourId, mutedColour);
    setColour (juce::PropertyComponent::labelTextColourId, accentColour.withAlpha (0.5f));
    setColour (juce::ScrollBar::thumbColourId, mutedColour);
    setColour (juce::ResizableWindow::backgroundColourId, backgroundColour);
    setColour (juce::TextEditor::backgroundColourId, backgroundColour);
    setColour (juce::ListBox::backgroundColourId, backgroundColour);
    setColour (juce::TextButton::buttonColourId, backgroundColour);
    setColour (juce::Label::textColourId, textColour);
}

CustomLookAndFeel::~CustomLookAndFeel() = default;

//==============================================================================
juce::Typeface::Ptr CustomLookAndFeel::getTypefaceForFont (const juce::Font&)
{
    return regularTypeface;
}

//==============================================================================
juce::Font CustomLookAndFeel::getPopupMenuFont()
{
    juce::Font font;
    font.setSizeAndStyle (30.0f, juce::Font::plain, 1.0f, 0.1f);
    return font;
}

//==============================================================================
void CustomLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool,
                                      int, int, int, int, juce::ComboBox&)
{
    g.setColour (inkColour);
    g.fillRoundedRectangle (0.0f, 0.0f, (float) width, (float) height, (float) height * 0.5f);
}

juce::Font CustomLookAndFeel::getComboBoxFont (juce::ComboBox& box)
{
    return juce::Font ((float) box.getHeight() * 0.7f);
}

void CustomLookAndFeel::positionComboBoxText (juce::ComboBox& box, juce::Label& label)
{
    // No arrow is drawn, so the text may use the whole width.
    label.setBounds (1, 1, box.getWidth(), box.getHeight() - 2);
    label.setFont (getComboBoxFont (box));
    label.setJustificationType (juce::Justification::centred);
}
