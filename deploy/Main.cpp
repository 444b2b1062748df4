#include "CommandLine.h"
#include "DeployRun.h"
#include "RunLog.h"

#include <cstdio>
#include <string>
#include <vector>

#if JUCE_WINDOWS
 #include "SettingsTrust.h"
 #include <windows.h>
 #include <shellapi.h>
#else
 #include <unistd.h>
#endif

namespace
{
/** The arguments after the program's own name, as bytes. On Windows the
    command line is UTF-16: each argument becomes UTF-8 exactly, or bytes no
    command can match when it is not well-formed (a lone surrogate); never a
    lossy code-page conversion that could turn one character into another. */
std::vector<std::string> argumentsOf (int argc, char** argv)
{
    std::vector<std::string> args;

   #if JUCE_WINDOWS
    juce::ignoreUnused (argc, argv);
    int count = 0;
    auto** wide = CommandLineToArgvW (GetCommandLineW(), &count);

    for (int i = 1; wide != nullptr && i < count; ++i)
    {
        const auto length = WideCharToMultiByte (CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg (length > 0 ? (size_t) length : 1, '\xff');

        if (length > 0)
        {
            WideCharToMultiByte (CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, arg.data(), length, nullptr, nullptr);
            arg.resize ((size_t) length - 1);
        }

        args.push_back (std::move (arg));
    }

    LocalFree (wide);
   #else
    for (int i = 1; i < argc; ++i)
        args.emplace_back (argv[i]);
   #endif

    return args;
}

bool isPrivileged()
{
   #if JUCE_WINDOWS
    return SettingsTrust::processIsElevated();
   #else
    return geteuid() == 0;
   #endif
}

void print (std::FILE* stream, const std::string& text)
{
    std::fwrite (text.data(), 1, text.size(), stream);
    std::fflush (stream);
}
} // namespace

// Console only: the framework never sees the command line and starts no
// application, message loop or window.
int main (int argc, char** argv)
{
    const auto args = argumentsOf (argc, argv);
    const auto parsed = CommandLine::parse ({ args.begin(), args.end() });

    if (! parsed.ok)
    {
        print (stderr, "oh_deploy: " + parsed.error + "\nTry oh_deploy --help.\n");
        return DeployRun::usageExitCode();
    }

    const auto& command = parsed.command;

    if (command.verb == CommandLine::Verb::help || command.verb == CommandLine::Verb::version)
    {
        print (stdout, command.verb == CommandLine::Verb::help ? DeployRun::helpText() : DeployRun::versionText());
        return 0;
    }

    RunLog::setProgram ("oh_deploy");
    const auto output = DeployRun::run (command, SystemPaths::fromSystem(), isPrivileged(), embeddedPayloads());
    print (stdout, output.out);
    print (stderr, output.err);
    return output.exitCode;
}
