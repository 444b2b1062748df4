#include "SystemPaths.h"

SystemPaths SystemPaths::fromSystem()
{
    SystemPaths paths;

   #if JUCE_WINDOWS
    // Taken as written, not asked of the system.
    paths.defaultFolderBase = juce::File ("C:/Program Files/Common Files");
   #else
    paths.defaultFolderBase = juce::File ("/");
   #endif

    paths.commonAppDataFolder = juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory);
    paths.temporaryFolder = juce::File::getSpecialLocation (juce::File::tempDirectory);
    return paths;
}
