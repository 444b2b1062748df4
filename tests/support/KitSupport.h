#pragma once

#if defined (_WIN32)
/** What the test kit's run-tests.cmd asks of the suites on a maker's machine,
    where no ctest or Python is at hand. */
namespace KitSupport
{
    /** Handles the kit's own commands, given before any test flag; returns
        the exit code, or -1 when argv holds none of them.
          --kit-facts: prints "Elevated:", "Architecture:" and, under Wine,
            "Wine:" lines; exits 0 only for an elevated x64 process on an x64 machine.
          --kit-skips RUN ALLOWED_FILE SKIP_LOG: lists every skip in SKIP_LOG with
            the reason ALLOWED_FILE gives it for RUN, as scripts/ctest-checked
            does; exits 1 for a skip it does not allow, or an entry of RUN that
            did not skip. */
    int runCommand (int argc, char** argv);

    /** With OH_TIME_LIMIT_SECONDS set, ends the process with exit code 124
        and a "TIME LIMIT" line once it has run that long. */
    void startTimeLimit();

    /** True under Wine. */
    bool isWine();

    /** True when this process holds its administrator rights (an elevated token). */
    bool isElevated();
}
#endif
