#include "CommandLine.h"

#include <cstdio>
#include <iterator>
#include <utility>

namespace CommandLine
{
namespace
{
constexpr std::string_view formatNames[] = { "vst3", "clap", "aax" };

bool isVersion (std::string_view text)
{
    int parts = 0;

    while (true)
    {
        const auto dot = text.find ('.');
        const auto part = text.substr (0, dot);

        if (part.empty() || part.size() > 5 || ++parts > 4)
            return false;

        unsigned value = 0;

        for (const char c : part)
        {
            if (c < '0' || c > '9')
                return false;

            value = value * 10 + (unsigned) (c - '0');
        }

        if (value > 65535)
            return false;

        if (dot == std::string_view::npos)
            return true;

        text.remove_prefix (dot + 1);
    }
}

bool parseFormats (std::string_view list, std::array<bool, 3>& formats, std::string& error)
{
    formats = { false, false, false };

    while (true)
    {
        const auto comma = list.find (',');
        const auto name = list.substr (0, comma);
        bool known = false;

        for (size_t k = 0; k < formats.size(); ++k)
        {
            if (name != formatNames[k])
                continue;

            if (formats[k])
            {
                error = "--formats names " + std::string (name) + " twice";
                return false;
            }

            formats[k] = known = true;
        }

        if (! known)
        {
            error = name.empty() ? "--formats has an empty name; give vst3, clap or aax, separated by commas"
                                 : "unknown format " + quoted (name) + "; the formats are vst3, clap and aax";
            return false;
        }

        if (comma == std::string_view::npos)
            return true;

        list.remove_prefix (comma + 1);
    }
}

struct Option
{
    std::string_view name;
    bool takesValue;
    bool forStatus, forInstall, forUninstall, forDetect;
};

constexpr Option options[] = {
    { "--formats",         true,  true,  true,  true,  true  },
    { "--json",            false, true,  true,  true,  true  },
    { "--dry-run",         false, false, true,  true,  false },
    { "--allow-downgrade", false, false, true,  false, false },
    { "--min-version",     true,  false, false, false, true  },
};

bool allowedFor (const Option& option, Verb verb)
{
    switch (verb)
    {
        case Verb::status:     return option.forStatus;
        case Verb::install:    return option.forInstall;
        case Verb::uninstall:  return option.forUninstall;
        case Verb::detect:     return option.forDetect;
        case Verb::help:
        case Verb::version:    break;
    }

    return false;
}

const char* verbName (Verb verb)
{
    switch (verb)
    {
        case Verb::status:     return "status";
        case Verb::install:    return "install";
        case Verb::uninstall:  return "uninstall";
        case Verb::detect:     return "detect";
        case Verb::help:       return "--help";
        case Verb::version:    return "--version";
    }

    return "";
}

Parsed usageError (std::string error)
{
    Parsed parsed;
    parsed.error = std::move (error);
    return parsed;
}
} // namespace

//==============================================================================
std::string quoted (std::string_view argument)
{
    constexpr size_t shown = 40;
    std::string text = "\"";

    for (size_t i = 0; i < argument.size() && i < shown; ++i)
    {
        const auto c = (unsigned char) argument[i];

        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\')
        {
            text += (char) c;
        }
        else
        {
            char escaped[5];
            std::snprintf (escaped, sizeof (escaped), "\\x%02x", c);
            text += escaped;
        }
    }

    text += argument.size() > shown ? "\"..." : "\"";
    return text;
}

Parsed parse (const std::vector<std::string_view>& args)
{
    if (args.empty())
        return usageError ("no command given");

    Parsed parsed;
    auto& command = parsed.command;
    const auto first = args[0];

    if (first == "--help" || first == "--version")
    {
        if (args.size() > 1)
            return usageError (std::string (first) + " takes nothing after it");

        command.verb = first == "--help" ? Verb::help : Verb::version;
        parsed.ok = true;
        return parsed;
    }

    if      (first == "status")     command.verb = Verb::status;
    else if (first == "install")    command.verb = Verb::install;
    else if (first == "uninstall")  command.verb = Verb::uninstall;
    else if (first == "detect")     command.verb = Verb::detect;
    else return usageError ("unknown command " + quoted (first) + "; the commands are status, install, uninstall and detect");

    bool seen[std::size (options)] {};

    for (size_t i = 1; i < args.size(); ++i)
    {
        const auto arg = args[i];
        size_t index = 0;

        while (index < std::size (options) && options[index].name != arg)
            ++index;

        if (index == std::size (options))
            return usageError ("unknown option " + quoted (arg) + " (no option names a folder: they come from the settings file)");

        const auto& option = options[index];

        if (! allowedFor (option, command.verb))
            return usageError (std::string (option.name) + " is not an option of " + verbName (command.verb));

        if (std::exchange (seen[index], true))
            return usageError (std::string (option.name) + " is given twice");

        if (! option.takesValue)
        {
            if (option.name == "--json")                  command.json = true;
            else if (option.name == "--dry-run")          command.dryRun = true;
            else if (option.name == "--allow-downgrade")  command.allowDowngrade = true;
            continue;
        }

        if (++i == args.size())
            return usageError (std::string (option.name) + " needs a value");

        const auto value = args[i];

        if (option.name == "--formats")
        {
            std::string error;

            if (! parseFormats (value, command.formats, error))
                return usageError (error);
        }
        else
        {
            if (! isVersion (value))
                return usageError ("--min-version wants one to four numbers of at most 65535 joined by dots, not " + quoted (value));

            command.minVersion = std::string (value);
        }
    }

    parsed.ok = true;
    return parsed;
}
} // namespace CommandLine
