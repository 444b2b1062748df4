#include "SystemPaths.h"

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
    paths.temporaryFolder = juce::File::getSpecialLocation (juce::File::tempDirectory);
    return paths;
}
