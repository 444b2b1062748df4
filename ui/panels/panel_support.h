#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class panel_support final : public juce::Component
{
public:
    panel_support() = default;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_support)
};
