#pragma once

#include "ManagerInfo.h"   // the manager's own name and version: Manager::name, Manager::version
#include "ProductInfo.h"

#include <juce_core/juce_core.h>
#include <array>

//==============================================================================
// Format index k: 0 = VST3, 1 = CLAP, 2 = AAX. Every per-format table uses it
// and every loop over the formats runs k = 0, 1, 2.
constexpr int numFormats = 3;

template <typename T>
using PerFormat = std::array<T, numFormats>;

/** "VST3", "CLAP", "AAX", "AudioUnit V2", "AudioUnit V3"; only the first three are offered. */
extern const juce::StringArray formatNames;

/** ".vst3", ".clap", ".aaxplugin". */
extern const juce::StringArray formatExtensions;

/** "EULA", "MANUAL", "WEBSITE", "SUPPORT", "SETTINGS"; the first four name the extras buttons. */
extern const juce::StringArray extraNames;

/** The product's end-user licence agreement, shown unchanged by the licence panel. */
extern const juce::String eulaText;

//==============================================================================
/** What is known about the product at build time, generated from the product file. */
namespace Product
{
    using namespace ProductInfo;

    /** The display name: every underscore becomes a blank. */
    juce::String displayName (const juce::String& name = rawName);
}


//==============================================================================
/** Default target folders below the given base, entry k for format k. On
    Linux the base is the root and the folders are the hosts' system folders. */
PerFormat<juce::File> defaultFormatFolders (const juce::File& base);

/** productName followed directly by the extension of format k. */
juce::String bundleName (const juce::String& productName, int k);

/** The bundle of format k inside its target folder. An empty folder gives an
    empty path: it must never resolve against the filesystem root. */
juce::File bundlePath (const juce::File& folder, const juce::String& productName, int k);

/** True when anything (file, folder, link) exists at the bundle path. */
bool isBundlePresent (const juce::File& folder, const juce::String& productName, int k);
