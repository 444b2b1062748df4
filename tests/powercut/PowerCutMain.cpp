#include "RunLog.h"
#include "support/ChildProcess.h"
#include "support/SkipLog.h"

#include <gtest/gtest.h>
#include <unistd.h>

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    logSkippedTests();

    // The machine's log is no place for the tests' runs.
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});

    // The filesystems these tests mount stay out of every other process's
    // sight: a walk over the temporary folder would otherwise enter them,
    // and hold them busy.
    if (geteuid() == 0)
    {
        if (const auto failure = enterPrivateMounts(); ! failure.empty())
        {
            std::fprintf (stderr, "%s\n", failure.c_str());
            return 1;
        }
    }

    return RUN_ALL_TESTS();
}
