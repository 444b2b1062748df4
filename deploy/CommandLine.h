#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

/** The deploy program's command line: bytes in, a command or a usage error
    out. Nothing else reads the arguments; the grammar is fixed and small:

        --help | --version | <verb> [options]

    verb: status, install, uninstall, detect; options in any order, each at
    most once, and only those of the verb: --formats LIST (vst3, clap, aax,
    comma-separated, each once), --json, --dry-run (install, uninstall),
    --allow-downgrade (install), --min-version X (detect; one to four decimal
    numbers of at most 65535, joined by dots). No argument names a folder. */
namespace CommandLine
{
enum class Verb { help, version, status, install, uninstall, detect };

struct Command
{
    Verb verb = Verb::help;
    std::array<bool, 3> formats { true, true, true };   ///< VST3, CLAP, AAX
    bool dryRun = false;
    bool json = false;
    bool allowDowngrade = false;
    std::string minVersion;   ///< detect: as given; empty means the product's version
};

struct Parsed
{
    bool ok = false;
    Command command;
    std::string error;   ///< for a usage error: one line of printable ASCII
};

/** args: the arguments after the program's own name, as the system gave them. */
Parsed parse (const std::vector<std::string_view>& args);

/** An argument as a usage error may show it: printable ASCII, anything else as
    \xNN, cut after a few dozen bytes. */
std::string quoted (std::string_view argument);
} // namespace CommandLine
