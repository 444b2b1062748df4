#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The look and feel of the whole program, installed as the desktop default:
    the dark palette, every font in Source Sans Pro Regular, and a pill-shaped
    combo box. */
class CustomLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    CustomLookAndFeel();
    ~CustomLookAndFeel() override;

    //==============================================================================
    /** Answers the regular face for every font, whatever name or style it asks for. */
    juce::Typeface::Ptr getTypefaceForFont (const juce::Font&) override;

    //==============================================================================
    juce::Font getPopupMenuFont() override;

    //==============================================================================
    void drawComboBox (juce::Graphics&, int width, int height, bool isButtonDown,
                       int buttonX, int buttonY, int buttonW, int buttonH,
                       juce::ComboBox&) override;
    juce::Font getComboBoxFont (juce::ComboBox&) override;
    void positionComboBoxText (juce::ComboBox&, juce::Label&) override;

    //==============================================================================
    /** Source Sans Pro Regular; the main component builds its fonts from it. */
    juce::Typeface::Ptr regularTypeface;

    /** Source Sans Pro Bold; held for the object's lifetime, never selected. */
    juce::Typeface::Ptr boldTypeface;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLookAndFeel)
};
