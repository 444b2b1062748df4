#include "support/SkipLog.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <juce_gui_basics/juce_gui_basics.h>

#include "RunLog.h"
#if JUCE_WINDOWS
 #include "KitSupport.h"
 #include "SecurityStandIn.h"
#endif

// One framework instance for the whole run; components render to images, no display needed.
int main (int argc, char** argv)
{
   #if JUCE_WINDOWS
    if (const auto result = KitSupport::runCommand (argc, argv); result >= 0)
        return result;

    KitSupport::startTimeLimit();
   #endif

    ::testing::InitGoogleTest (&argc, argv);
    logSkippedTests();

    // Without DISPLAY the framework tries ":0", which may be a window test's
    // private Xvfb that vanishes mid-test. A name no server answers keeps these
    // tests headless.
   #if ! JUCE_WINDOWS
    setenv ("DISPLAY", ":headless", 1);
   #endif

    // The machine's log is no place for the tests' runs; the tests of the log
    // point it where they look.
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});

    juce::ScopedJuceInitialiser_GUI juce;

   #if JUCE_WINDOWS
    SecurityStandIn::installWhereNeeded();
   #endif

    return RUN_ALL_TESTS();
}
