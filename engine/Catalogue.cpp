#include "Catalogue.h"

#include "FileOps.h"

const juce::StringArray formatNames { "VST3", "CLAP", "AAX", "AudioUnit V2", "AudioUnit V3" };
const juce::StringArray formatExtensions { ".vst3", ".clap", ".aaxplugin" };
const juce::StringArray extraNames { "EULA", "MANUAL", "WEBSITE", "SUPPORT", "SETTINGS" };

juce::String Product::displayName (const juce::String& name)
{
    return name.replaceCharacter ('_', ' ');
}

PerFormat<juce::File> defaultFormatFolders (const juce::File& base)
{
    // No base (the system could not name it): no folders, rather than folders
    // at the root of the current drive.
    if (base == juce::File())
        return {};

    // getChildFile turns the "/" into the platform's separator.
   #if JUCE_WINDOWS
    return { base.getChildFile ("VST3"),
             base.getChildFile ("CLAP"),
             base.getChildFile ("Avid/Audio/Plug-Ins") };
   #else
    // Where Linux hosts look: file names are case sensitive there, and the
    // VST3 and CLAP system folders do not share a parent. No Linux host
    // loads AAX, so it keeps a folder of its own below /usr/local/lib.
    return { base.getChildFile ("usr/local/lib/vst3"),
             base.getChildFile ("usr/lib/clap"),
             base.getChildFile ("usr/local/lib/Avid/Audio/Plug-Ins") };
   #endif
}

juce::String bundleName (const juce::String& productName, int k)
{
    return productName + formatExtensions[k];
}

juce::File bundlePath (const juce::File& folder, const juce::String& productName, int k)
{
    // A folder from a missing settings key is empty; joining a name to it would
    // land at the root of the filesystem, so there is no bundle path at all.
    if (folder == juce::File())
        return {};

    return folder.getChildFile (bundleName (productName, k));
}

bool isBundlePresent (const juce::File& folder, const juce::String& productName, int k)
{
    if (folder == juce::File())
        return false;

    // Looked at by the rule the install follows; links are not followed, so a
    // dangling link still occupies the bundle path.
    const auto target = FileOps::openTargetFolder (folder, false);
    return target && FileOps::kindOf (target, bundleName (productName, k)) != FileOps::Kind::missing;
}
