#include "SystemPaths.h"

#include "Utf8.h"

#include <cstdlib>
#include <cstring>

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
   #if JUCE_WINDOWS
    paths.temporaryFolder = juce::File::getSpecialLocation (juce::File::tempDirectory);
   #else
    // The environment is bytes from outside: the framework would copy TMPDIR
    // into a string unchecked. Only whole UTF-8 naming a full path is taken.
    const auto* tmp = std::getenv ("TMPDIR");

    if (tmp != nullptr && tmp[0] == '/' && isWellFormedUtf8 (tmp, std::strlen (tmp)))
        paths.temporaryFolder = juce::File (juce::String::fromUTF8 (tmp, (int) std::strlen (tmp)));
    else
        paths.temporaryFolder = juce::File ("/tmp");
   #endif
    return paths;
}
