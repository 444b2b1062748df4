#include "Status.h"
#include "PeVersion.h"

namespace
{
    /** The file whose version the user sees: the CLAP bundle is the library
        itself, the AAX bundle carries it inside, the VST3 bundle is a folder. */
    juce::File versionProbePath (const juce::File& bundle, const juce::String& productName, int k)
    {
        if (k == 2)
            return bundle.getChildFile ("Contents/x64/" + productName + formatExtensions[2]);

        return bundle;
    }

    /** Windows answers through its own version API; elsewhere our reader reads the module. */
    juce::String moduleVersion (const juce::File& probe)
    {
       #if JUCE_WINDOWS
        return probe.getVersion();
       #else
        return readFileVersion (probe);
       #endif
    }
}

FormatStatus probeFormatStatus (const juce::File& folder, const juce::String& productName, int k)
{
    FormatStatus status;
    status.installed = isBundlePresent (folder, productName, k);

    if (! status.installed)
    {
        status.text = "NOT INSTALLED";
        return status;
    }

    status.version = moduleVersion (versionProbePath (bundlePath (folder, productName, k), productName, k));
    status.text = status.version.isEmpty() ? juce::String ("INSTALLED")
                                           : "v" + status.version + " INSTALLED";
    return status;
}
