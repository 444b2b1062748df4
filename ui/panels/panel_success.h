#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The result card shown after an install or uninstall run. */
class panel_success final : public juce::Component
{
public:
    panel_success() = default;

    bool success = true;   ///< outcome to show
    float scale = 9.0f;    ///< layout unit, set once by the creator

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_success)
};
