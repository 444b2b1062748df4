#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The licence overlay: the agreement in a scrolling editor under a title. */
class panel_eula final : public juce::Component,
                         public juce::Button::Listener
{
public:
    /** The editor keeps the text; the panel holds no copy of it. */
    explicit panel_eula (juce::String agreementText);
    ~panel_eula() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;

    //==============================================================================
    /** Its only button is the close glyph: the panel leaves its parent, which still owns it. */
    void buttonClicked (juce::Button*) override;

    //==============================================================================
    float scale = 9.0f;   ///< layout unit, set by the creator and on every layout pass

private:
    std::unique_ptr<juce::TextEditor> agreementEditor;
    std::unique_ptr<juce::TextButton> closeButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_eula)
};
