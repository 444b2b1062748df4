#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The licence overlay: the agreement in a scrolling editor under a title. */
class panel_eula final : public juce::Component,
                         public juce::Button::Listener
{
public:
    explicit panel_eula (juce::String agreementText);

    void buttonClicked (juce::Button*) override {}

    float scale = 9.0f;   ///< layout unit, set by the creator and on every layout pass

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_eula)
};
