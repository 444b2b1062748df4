#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>

// The helper every test stands on: without a folder it must stop the test
// binary, not hand out an empty path that resolves against "/".
TEST (TempFolderDeathTest, AbortsWhenNoFolderCanBeMade)
{
   #if JUCE_WINDOWS
    GTEST_SKIP() << "TMPDIR names the temporary folder on POSIX only";
   #else
    ::testing::GTEST_FLAG (death_test_style) = "threadsafe";

    EXPECT_DEATH (
        {
            setenv ("TMPDIR", "/nonexistent/oh_no_temp", 1);
            TempFolder temp;
            std::printf ("%s\n", temp.get().getFullPathName().toRawUTF8());
        },
        "TempFolder: cannot make /nonexistent/oh_no_temp/oh_test_");
   #endif
}
