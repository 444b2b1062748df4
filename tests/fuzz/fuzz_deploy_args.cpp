// The deploy program's command line over fuzzed bytes: the input is its
// arguments, split at NUL bytes (which no argument can hold). Whatever they
// are, parse gives a command of the grammar or a short printable usage error;
// an accepted command line is ASCII, names no path, and parses the same again
// from the command it gave.
#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
[[noreturn]] void fail (const char* what)
{
    std::fprintf (stderr, "fuzz_deploy_args: %s\n", what);
    std::abort();
}

/** The command's own arguments, in a fixed order. */
std::vector<std::string> argumentsOf (const CommandLine::Command& c)
{
    using V = CommandLine::Verb;

    switch (c.verb)
    {
        case V::help:     return { "--help" };
        case V::version:  return { "--version" };
        case V::status:   break;
        case V::install:  break;
        case V::uninstall: break;
        case V::detect:   break;
    }

    std::vector<std::string> args { c.verb == V::status ? "status" : c.verb == V::install ? "install"
                                    : c.verb == V::uninstall ? "uninstall" : "detect" };
    std::string formats;
    const char* names[] = { "vst3", "clap", "aax" };

    for (size_t k = 0; k < 3; ++k)
        if (c.formats[k])
            formats += (formats.empty() ? "" : ",") + std::string (names[k]);

    args.insert (args.end(), { "--formats", formats });

    if (c.json)            args.push_back ("--json");
    if (c.dryRun)          args.push_back ("--dry-run");
    if (c.allowDowngrade)  args.push_back ("--allow-downgrade");
    if (! c.minVersion.empty())
        args.insert (args.end(), { "--min-version", c.minVersion });

    return args;
}

bool sameCommand (const CommandLine::Command& a, const CommandLine::Command& b)
{
    return a.verb == b.verb && a.formats == b.formats && a.dryRun == b.dryRun && a.json == b.json
        && a.allowDowngrade == b.allowDowngrade && a.minVersion == b.minVersion;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const unsigned char* data, size_t size)
{
    std::vector<std::string_view> args;
    const auto* text = reinterpret_cast<const char*> (data);

    for (size_t start = 0; start < size;)
    {
        size_t end = start;

        while (end < size && data[end] != 0)
            ++end;

        args.emplace_back (text + start, end - start);
        start = end + 1;
    }

    const auto parsed = CommandLine::parse (args);

    if (! parsed.ok)
    {
        if (parsed.error.empty() || parsed.error.size() > 300)
            fail ("a usage error without a short message");

        for (const auto c : parsed.error)
            if (c < 0x20 || c >= 0x7f)
                fail ("a usage error that is not printable ASCII");

        return 0;
    }

    for (const auto arg : args)
        for (const auto c : arg)
            if ((unsigned char) c >= 0x80 || (unsigned char) c < 0x20 || c == '/' || c == '\\')
                fail ("an accepted argument that is not plain ASCII or looks like a path");

    const auto again = argumentsOf (parsed.command);
    const auto reparsed = CommandLine::parse ({ again.begin(), again.end() });

    if (! reparsed.ok || ! sameCommand (reparsed.command, parsed.command))
        fail ("the command does not parse back to itself");

    return 0;
}
