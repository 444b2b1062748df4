#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The result card shown after an install or uninstall run. It takes no input. */
class panel_success final : public juce::Component
{
public:
    panel_success();
    ~panel_success() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;

    //==============================================================================
    bool success = true;   ///< outcome to show
    float scale = 9.0f;    ///< layout unit, set once by the creator

private:
    std::unique_ptr<juce::Drawable> successIcon;
    std::unique_ptr<juce::Drawable> warningIcon;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_success)
};
