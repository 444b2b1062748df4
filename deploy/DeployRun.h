#pragma once

#include "CommandLine.h"
#include "Installer.h"
#include "SystemPaths.h"

#include <string>

/** One run of the deploy program over a parsed command: what it prints on
    standard output and standard error, and its exit code. The same settings
    file and trust rules, run log and install operation as the window. */
namespace DeployRun
{
/** How a run ends, worst first; each has an exit code per platform. */
enum class Outcome { failure, busy, refused, notPrivileged, success };

/** Linux: 0, 1, 3, 4, 5 (2 is a bad command line). Windows, as Windows
    Installer has them: 0 (3010 when a restart finishes it), 1603, 1618, 1638,
    1603 (not elevated is a failure there). */
int exitCodeFor (Outcome, bool restartNeeded);

/** The exit code of a bad command line: 2, or 1639 on Windows. */
int usageExitCode();

/** The "result" of the JSON report: "success", "failure", "busy", "refused", "not-root". */
const char* resultName (Outcome);

struct Output
{
    std::string out, err;
    int exitCode = 0;
};

/** privileged: root, or an elevated administrator on Windows; a real install
    or uninstall needs it. */
Output run (const CommandLine::Command&, const SystemPaths&, bool privileged,
            const PerFormat<PayloadArchive>& payloads);

/** The text of --help and --version. */
std::string helpText();
std::string versionText();
} // namespace DeployRun
