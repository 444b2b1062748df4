#include "Settings.h"

ResolvedSettings resolveSettings (const juce::File& commonAppDataFolder,
                                  const PerFormat<juce::File>& defaultFolders)
{
    ResolvedSettings resolved;
    resolved.settingsFolder = commonAppDataFolder.getChildFile ("Oakhaze");
    resolved.formatFolders = defaultFolders;
    return resolved;
}
