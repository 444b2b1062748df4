#pragma once

/** When OH_SKIP_LOG names a file, every skipped test appends one line to it:
    "Suite.Name<TAB>reason". The scripts that run the suites compare those lines
    with tests/allowed-skips.txt, so that no test can pass by skipping. */
void logSkippedTests();
