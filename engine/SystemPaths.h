#pragma once

#include <juce_core/juce_core.h>

/** The places the program takes from the system. The real program fills
    them from the machine; tests fill them with temporary folders so that
    nothing touches the machine-wide folders. */
struct SystemPaths
{
    juce::File defaultFolderBase;    ///< base of the default plug-in folders (the root on Linux)
    juce::File commonAppDataFolder;  ///< machine-wide application data (settings live below it)
    juce::File temporaryFolder;      ///< the system's temporary folder
    juce::File stateFolder;          ///< where privileged runs keep their locks and records (StateFolder.h)

    /** The paths of this machine. */
    static SystemPaths fromSystem();
};
