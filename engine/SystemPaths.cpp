#include "SystemPaths.h"

#include "Utf8.h"

#include <cstdlib>
#include <cstring>

#if JUCE_WINDOWS
 #include <windows.h>
 #include <shlobj.h>

namespace
{
    /** The system's Common Files folder, wherever Windows lies; none when it
        cannot say (the formats then have no folder and fail untouched). */
    juce::File commonFilesFolder()
    {
        // FOLDERID_ProgramFilesCommon
        static const GUID programFilesCommon = { 0xf7f1ed05, 0x9f6d, 0x47a2, { 0xaa, 0xae, 0x29, 0xd3, 0x17, 0xc6, 0xf0, 0x66 } };
        PWSTR path = nullptr;
        juce::File folder;

        if (SUCCEEDED (SHGetKnownFolderPath (programFilesCommon, 0, nullptr, &path)) && path != nullptr)
            folder = juce::File (juce::String (path));

        CoTaskMemFree (path);
        return folder;
    }
}
#endif

SystemPaths SystemPaths::fromSystem()
{
    SystemPaths paths;

   #if JUCE_WINDOWS
    paths.defaultFolderBase = commonFilesFolder();
   #else
    paths.defaultFolderBase = juce::File ("/");
   #endif

    paths.commonAppDataFolder = juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory);
   #if JUCE_WINDOWS
    // Below Common Files, which only administrators may add to: below
    // ProgramData any user may make the folder first.
    if (paths.defaultFolderBase != juce::File())
        paths.stateFolder = paths.defaultFolderBase.getChildFile ("Oakhaze").getChildFile ("State");

    paths.temporaryFolder = juce::File::getSpecialLocation (juce::File::tempDirectory);
   #else
    // The environment is bytes from outside: the framework would copy TMPDIR
    // into a string unchecked. Only whole UTF-8 naming a full path is taken.
    const auto* tmp = std::getenv ("TMPDIR");

    if (tmp != nullptr && tmp[0] == '/' && isWellFormedUtf8 (tmp, std::strlen (tmp)))
        paths.temporaryFolder = juce::File (juce::String::fromUTF8 (tmp, (int) std::strlen (tmp)));
    else
        paths.temporaryFolder = juce::File ("/tmp");

    paths.stateFolder = juce::File ("/var/lib/oakhaze");
   #endif
    return paths;
}
