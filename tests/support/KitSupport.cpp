#include "KitSupport.h"

#if defined (_WIN32)
 #include <windows.h>

 #include <chrono>
 #include <cstdio>
 #include <cstdlib>
 #include <cstring>
 #include <fstream>
 #include <map>
 #include <sstream>
 #include <string>
 #include <thread>
 #include <vector>

namespace KitSupport
{
namespace
{
const char* machineName (USHORT machine)
{
    switch (machine)
    {
        case IMAGE_FILE_MACHINE_AMD64:   return "x64";
        case IMAGE_FILE_MACHINE_I386:    return "x86";
        case 0xAA64:                     return "ARM64";
        case IMAGE_FILE_MACHINE_UNKNOWN: return "native";
        default:                         return "other";
    }
}

/** The machine's own architecture, and this process's where it differs (an
    x64 program emulated on ARM64 sees other file and module behaviour). */
bool architecture (std::string& text)
{
    USHORT process = IMAGE_FILE_MACHINE_UNKNOWN, native = IMAGE_FILE_MACHINE_UNKNOWN;
    using IsWow64Process2Fn = BOOL (WINAPI*) (HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn> (
        reinterpret_cast<void*> (GetProcAddress (GetModuleHandleW (L"kernel32.dll"), "IsWow64Process2")));

    if (isWow64Process2 == nullptr || ! isWow64Process2 (GetCurrentProcess(), &process, &native))
    {
        SYSTEM_INFO info {};
        GetNativeSystemInfo (&info);
        native = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? IMAGE_FILE_MACHINE_AMD64
               : info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? (USHORT) 0xAA64
                                                                              : IMAGE_FILE_MACHINE_I386;
        process = IMAGE_FILE_MACHINE_UNKNOWN;
    }

    // UNKNOWN for the process: it runs natively.
    text = std::string ("machine ") + machineName (native) + ", tests built for x64"
         + (process == IMAGE_FILE_MACHINE_UNKNOWN ? ", running natively" : std::string (", running emulated"));
    return native == IMAGE_FILE_MACHINE_AMD64 && process == IMAGE_FILE_MACHINE_UNKNOWN;
}

/** '*' matches any text, as in tests/allowed-skips.txt. */
bool matches (const char* pattern, const char* text)
{
    if (*pattern == 0)
        return *text == 0;

    if (*pattern == '*')
        return matches (pattern + 1, text) || (*text != 0 && matches (pattern, text + 1));

    return *text != 0 && *pattern == *text && matches (pattern + 1, text + 1);
}

struct Allowed
{
    std::string pattern, reason;
    bool matched = false;
};

int checkSkips (const std::string& run, const std::string& allowedFile, const std::string& skipLog)
{
    std::vector<Allowed> allowed;
    std::ifstream list (allowedFile);

    if (! list)
    {
        std::printf ("skips: cannot read %s\n", allowedFile.c_str());
        return 1;
    }

    for (std::string line; std::getline (list, line);)
    {
        if (! line.empty() && line.back() == '\r')
            line.pop_back();

        std::istringstream fields (line);
        std::string runs, pattern, reason;

        if (! (fields >> runs) || runs[0] == '#' || ! (fields >> pattern))
            continue;

        std::getline (fields >> std::ws, reason);

        for (std::istringstream each (runs); std::getline (each, line, ',');)
            if (line == run)
                allowed.push_back ({ pattern, reason });
    }

    std::map<std::string, std::string> skipped;
    std::ifstream log (skipLog);

    for (std::string line; std::getline (log, line);)
    {
        const auto tab = line.find ('\t');
        skipped[line.substr (0, tab)] = tab == std::string::npos ? std::string() : line.substr (tab + 1);
    }

    int notAllowed = 0, stale = 0;
    std::printf ("Skipped tests, by tests/allowed-skips.txt for the run \"%s\":\n", run.c_str());

    for (const auto& [name, message] : skipped)
    {
        Allowed* entry = nullptr;

        for (auto& a : allowed)
            if (entry == nullptr && matches (a.pattern.c_str(), name.c_str()))
                entry = &a;

        if (entry != nullptr)
        {
            entry->matched = true;
            std::printf ("  SKIPPED (allowed) %s: %s\n", name.c_str(), entry->reason.c_str());
        }
        else
        {
            ++notAllowed;
            std::printf ("  SKIPPED (NOT ALLOWED) %s: %s\n", name.c_str(), message.c_str());
        }
    }

    for (const auto& a : allowed)
    {
        if (! a.matched)
        {
            ++stale;
            std::printf ("  ALLOWED SKIP DID NOT HAPPEN %s: the list is out of date\n", a.pattern.c_str());
        }
    }

    std::printf ("Skips: %d skipped, %d not allowed, %d allowed but not skipped\n", (int) skipped.size(), notAllowed, stale);
    return notAllowed == 0 && stale == 0 ? 0 : 1;
}
} // namespace

bool isWine()
{
    const auto ntdll = GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}

bool isElevated()
{
    HANDLE token = nullptr;

    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;

    TOKEN_ELEVATION elevation {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation (token, TokenElevation, &elevation, sizeof (elevation), &size)
                          && elevation.TokenIsElevated != 0;
    CloseHandle (token);
    return elevated;
}

int runCommand (int argc, char** argv)
{
    if (argc >= 2 && std::strcmp (argv[1], "--kit-facts") == 0)
    {
        const bool elevated = isElevated();
        std::string machine;
        const bool x64 = architecture (machine);

        std::printf ("Elevated: %s\n", elevated ? "yes" : "no (run-tests.cmd must be run as administrator)");
        std::printf ("Architecture: %s%s\n", machine.c_str(), x64 ? "" : " (the kit needs an x64 machine)");

        if (isWine())
        {
            using VersionFn = const char* (*)();
            const auto version = reinterpret_cast<VersionFn> (
                reinterpret_cast<void*> (GetProcAddress (GetModuleHandleW (L"ntdll.dll"), "wine_get_version")));
            std::printf ("Wine: %s (not Windows: the cases only Windows shows skip)\n", version != nullptr ? version() : "?");
        }

        std::fflush (stdout);
        return elevated && x64 ? 0 : 1;
    }

    if (argc >= 2 && std::strcmp (argv[1], "--kit-skips") == 0)
    {
        if (argc != 5)
        {
            std::printf ("usage: --kit-skips RUN ALLOWED_FILE SKIP_LOG\n");
            return 2;
        }

        // "auto": the list's run for where this is, Wine or a real Windows.
        const std::string run = std::strcmp (argv[2], "auto") == 0 ? (isWine() ? "windows" : "kit") : argv[2];
        const auto result = checkSkips (run, argv[3], argv[4]);
        std::fflush (stdout);
        return result;
    }

    return -1;
}

void startTimeLimit()
{
    const auto* text = std::getenv ("OH_TIME_LIMIT_SECONDS");
    const auto seconds = text != nullptr ? std::atoi (text) : 0;

    if (seconds <= 0)
        return;

    std::thread ([seconds]
    {
        std::this_thread::sleep_for (std::chrono::seconds (seconds));
        std::printf ("\nTIME LIMIT: still running after %d seconds; stopped\n", seconds);
        std::fflush (stdout);
        std::fflush (stderr);
        TerminateProcess (GetCurrentProcess(), 124);
    }).detach();
}
} // namespace KitSupport
#endif
