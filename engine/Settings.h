#pragma once

#include "Catalogue.h"

/** Where the settings file lives and the target folders it resolves to. */
struct ResolvedSettings
{
    juce::File settingsFolder;
    PerFormat<juce::File> formatFolders;

    juce::File settingsFile;
    bool fromSettingsFile = false;   ///< the folders are the file's
    juce::String ignoredBecause;     ///< why a file there was not used; empty when it was, or none was there
};

/** Resolves the target folders once at start-up: reads the shared settings
    file below the common application data folder, or writes it with the
    defaults when it is missing and its folder exists. With mayWrite false
    (a run that only looks) the same folders come out, but neither the file
    nor a folder it names is made. */
ResolvedSettings resolveSettings (const juce::File& commonAppDataFolder,
                                  const PerFormat<juce::File>& defaultFolders,
                                  bool mayWrite = true);
