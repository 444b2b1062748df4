#include "CommandLine.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace
{
CommandLine::Parsed parseArgs (const std::vector<std::string>& args)
{
    return CommandLine::parse ({ args.begin(), args.end() });
}
} // namespace

// What the fixed grammar accepts, in any order, and what each part sets.
TEST (DeployCommandLine, AcceptsTheGrammar)
{
    using V = CommandLine::Verb;

    struct Case
    {
        std::vector<std::string> args;
        V verb;
        std::array<bool, 3> formats;
        bool dryRun, json, allowDowngrade;
        std::string minVersion;
    };

    const Case cases[] = {
        { { "--help" },                                               V::help,      { true, true, true },    false, false, false, "" },
        { { "--version" },                                            V::version,   { true, true, true },    false, false, false, "" },
        { { "status" },                                               V::status,    { true, true, true },    false, false, false, "" },
        { { "status", "--json", "--formats", "clap" },                V::status,    { false, true, false },  false, true,  false, "" },
        { { "install", "--formats", "aax,vst3", "--dry-run" },        V::install,   { true, false, true },   true,  false, false, "" },
        { { "install", "--allow-downgrade", "--json", "--dry-run" },  V::install,   { true, true, true },    true,  true,  true,  "" },
        { { "uninstall", "--dry-run", "--formats", "vst3,clap,aax" }, V::uninstall, { true, true, true },    true,  false, false, "" },
        { { "detect", "--min-version", "1.2" },                       V::detect,    { true, true, true },    false, false, false, "1.2" },
        { { "detect", "--formats", "clap", "--min-version", "0.0.0.65535", "--json" },
                                                                      V::detect,    { false, true, false },  false, true,  false, "0.0.0.65535" },
    };

    for (const auto& c : cases)
    {
        const auto parsed = parseArgs (c.args);
        const auto& command = parsed.command;
        ASSERT_TRUE (parsed.ok) << c.args[0] << ": " << parsed.error;
        EXPECT_EQ (command.verb, c.verb) << c.args[0];
        EXPECT_EQ (command.formats, c.formats) << c.args[0];
        EXPECT_EQ (command.dryRun, c.dryRun) << c.args[0];
        EXPECT_EQ (command.json, c.json) << c.args[0];
        EXPECT_EQ (command.allowDowngrade, c.allowDowngrade) << c.args[0];
        EXPECT_EQ (command.minVersion, c.minVersion) << c.args[0];
    }
}

// Anything else is a usage error, and its message shows the argument only as
// a short run of printable ASCII.
TEST (DeployCommandLine, RefusesEverythingElse)
{
    const std::string megabyte (1 << 20, 'A');
    const std::string overlong = "\xc0\x80" + std::string (120000, 'A');

    struct Case
    {
        const char* what;
        std::vector<std::string> args;
    };

    const Case cases[] = {
        { "nothing",                       {} },
        { "an unknown verb",               { "frobnicate" } },
        { "a verb in capitals",            { "INSTALL" } },
        { "an unknown format",             { "install", "--formats", "lv2" } },
        { "a format in capitals",          { "install", "--formats", "VST3" } },
        { "a format twice",                { "install", "--formats", "clap,clap" } },
        { "an empty --formats",            { "install", "--formats", "" } },
        { "a trailing comma",              { "install", "--formats", "vst3," } },
        { "a leading comma",               { "install", "--formats", ",vst3" } },
        { "--formats without its value",   { "install", "--formats" } },
        { "--formats=",                    { "install", "--formats=vst3" } },
        { "an option twice",               { "install", "--json", "--json" } },
        { "--formats twice",               { "install", "--formats", "vst3", "--formats", "clap" } },
        { "--dry-run on status",           { "status", "--dry-run" } },
        { "--dry-run on detect",           { "detect", "--dry-run" } },
        { "--allow-downgrade on uninstall",{ "uninstall", "--allow-downgrade" } },
        { "--min-version on install",      { "install", "--min-version", "1.0" } },
        { "five version parts",            { "detect", "--min-version", "1.2.3.4.5" } },
        { "a part over 65535",             { "detect", "--min-version", "65536" } },
        { "an empty part",                 { "detect", "--min-version", "1..2" } },
        { "a sign",                        { "detect", "--min-version", "-1" } },
        { "letters",                       { "detect", "--min-version", "1.0b" } },
        { "an empty version",              { "detect", "--min-version", "" } },
        { "--help with more",              { "--help", "status" } },
        { "--help after a verb",           { "install", "--help" } },
        { "a folder as verb",              { "/usr/local/lib/vst3" } },
        { "a folder after the verb",       { "install", "/tmp/elsewhere" } },
        { "a folder option",               { "install", "--folder", "/tmp/elsewhere" } },
        { "a folder as format",            { "install", "--formats", "/tmp" } },
        { "a settings option",             { "status", "--settings=/tmp/s.txt" } },
        { "not UTF-8 (C0 80)",             { "\xc0\x80" } },
        { "not UTF-8 after the verb",      { "install", "\xff\xfe" } },
        { "an overlong NUL and a long run",{ overlong, overlong } },
        { "an argument of 1 MB",           { "install", megabyte } },
        { "a format of 1 MB",              { "install", "--formats", megabyte } },
    };

    for (const auto& c : cases)
    {
        const auto parsed = parseArgs (c.args);
        EXPECT_FALSE (parsed.ok) << c.what;
        EXPECT_FALSE (parsed.error.empty()) << c.what;
        EXPECT_LT (parsed.error.size(), 300u) << c.what;

        for (const auto ch : parsed.error)
            ASSERT_TRUE (ch >= 0x20 && ch < 0x7f) << c.what << ": " << parsed.error;
    }
}
