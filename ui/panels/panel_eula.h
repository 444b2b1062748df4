#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class panel_eula final : public juce::Component
{
public:
    panel_eula() = default;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_eula)
};
