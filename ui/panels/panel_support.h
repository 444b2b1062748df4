#pragma once

#include "OpenLink.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

/** The support overlay: Discord and e-mail tiles and an about section. */
class panel_support final : public juce::Component,
                            public juce::Button::Listener
{
public:
    panel_support();
    ~panel_support() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;

    //==============================================================================
    /** "X" closes the panel (its parent still owns it); "DISCORD" and "MAIL" open
        their links and leave the panel open. */
    void buttonClicked (juce::Button*) override;

    //==============================================================================
    /** The explanations under the two tiles, drawn as fitted text (which trims
        them; the Discord one ends in a blank). */
    static constexpr const char* discordExplanation = "The Oakhaze Discord is a vibrant community of musicians and producers, "
                                                      "and this is the fastest way to get answers to simple questions. "
                                                      "Just join and drop in the appropriate channel. ";
    static constexpr const char* mailExplanation = "If you have more complicated questions, or matters that need to remain private, "
                                                   "concerning account information, etc., feel free to email us.";

    float scale = 9.0f;          ///< layout unit
    juce::File settingsFolder;   ///< where the settings file lives, shown in the about text

private:
    std::unique_ptr<juce::TextButton> closeButton;
    std::unique_ptr<juce::TextButton> mailButton;
    std::unique_ptr<juce::TextButton> discordButton;
    std::unique_ptr<juce::Drawable> discordIcon;
    std::unique_ptr<juce::Drawable> mailIcon;
    juce::String linkHint;

public:
    /** Opens a link with the desktop user's handler. Tests replace it. */
    std::function<LinkOpening (const juce::URL&)> openLink = openLinkAsDesktopUser;

    /** What the last link that started nothing left to say, drawn where the
        main window's hint line is (the panel covers it); empty otherwise. */
    const juce::String& getLinkHint() const noexcept   { return linkHint; }

    /** The about text, built from settingsFolder. */
    juce::String getAboutText() const;

private:
    void drawContactTile (juce::Graphics&, const juce::Button&, juce::Drawable*) const;
    juce::Rectangle<int> explanationArea (const juce::Button& tile) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (panel_support)
};
