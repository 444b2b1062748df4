#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The support overlay: Discord and e-mail tiles and an about section. */
class panel_support final : public juce::Component,
                            public juce::Button::Listener
{
public:
    panel_support() = default;

    void buttonClicked (juce::Button*) override {}

    float scale = 9.0f;          ///< layout unit
    juce::File settingsFolder;   ///< where the settings file lives, shown in the about text

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_support)
};
