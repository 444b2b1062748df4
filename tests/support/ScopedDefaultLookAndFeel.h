#pragma once

#include "CustomLookAndFeel.h"

/** A CustomLookAndFeel installed as the desktop default for one test, as the
    main component does for the program. Fonts resolved under an earlier look
    and feel are forgotten on the way in and out, so every text of the test
    resolves through this one. */
struct ScopedDefaultLookAndFeel
{
    ScopedDefaultLookAndFeel()
    {
        juce::Desktop::getInstance().setDefaultLookAndFeel (&lookAndFeel);
        juce::Typeface::clearTypefaceCache();
    }

    ~ScopedDefaultLookAndFeel()
    {
        juce::Desktop::getInstance().setDefaultLookAndFeel (nullptr);
        juce::Typeface::clearTypefaceCache();
    }

    /** The regular face at height h, as the panels' texts get it. */
    juce::Font font (float h) const   { return juce::Font (lookAndFeel.regularTypeface).withHeight (h); }

    CustomLookAndFeel lookAndFeel;

    JUCE_DECLARE_NON_COPYABLE (ScopedDefaultLookAndFeel)
};
