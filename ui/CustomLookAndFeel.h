#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The look and feel of the whole program, installed as the desktop default. */
class CustomLookAndFeel final : public juce::LookAndFeel_V4
{
public:
    CustomLookAndFeel();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLookAndFeel)
};
