#include "support/PrivateMounts.h"
#include "support/SkipLog.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

// The display must exist before the framework connects to it.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    logSkippedTests();

    // The window's content, and the deploy program the real window runs, use the
    // machine's real folders (the state folder too); hide them first.
    const auto hidden = hideMachineFolders ({ "/opt", "/usr/local/lib", "/usr/lib/clap", "/var/lib/oakhaze" });
    if (hidden.failed())
    {
        std::fprintf (stderr, "%s\n", hidden.getErrorMessage().toRawUTF8());
        return 1;
    }

    XvfbDisplay display;
    if (! display.isRunning())
    {
        std::fprintf (stderr, "could not start Xvfb: %s\n", display.getError().toRawUTF8());
        return 1;
    }

    // Behave like the real program towards X: the framework installs its own
    // X error handler only in a standalone application (one with a factory).
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };

    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
