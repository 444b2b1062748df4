#include "Status.h"

#include "FileOps.h"
#include "PeVersion.h"

namespace
{
    // The file whose version the user sees: the CLAP bundle is the library
    // itself, the AAX bundle carries it inside, the VST3 bundle is a folder.
   #if JUCE_WINDOWS
    juce::File versionProbePath (const juce::File& bundle, const juce::String& productName, int k)
    {
        if (k == 2)
            return bundle.getChildFile ("Contents/x64/" + productName + formatExtensions[2]);

        return bundle;
    }
   #else
    /** Opens the module below the opened target folder one real folder at a
        time, never through a link and never blocking on what it finds. */
    FileOps::Handle openVersionProbe (const FileOps::Handle& target, const juce::String& productName, int k)
    {
        const auto bundle = bundleName (productName, k);

        if (k != 2)
            return FileOps::openForReading (target, bundle);

        const auto outer = FileOps::openFolder (target, bundle);
        const auto contents = outer ? FileOps::openFolder (outer, "Contents") : FileOps::Handle();
        const auto x64 = contents ? FileOps::openFolder (contents, "x64") : FileOps::Handle();
        return x64 ? FileOps::openForReading (x64, bundle) : FileOps::Handle();
    }
   #endif
}

FormatStatus probeFormatStatus (const juce::File& folder, const juce::String& productName, int k)
{
    FormatStatus status;

    // The target folder is opened by the rule the install follows, so the
    // status shows what an install or uninstall would act on.
    const auto target = folder == juce::File() ? FileOps::Handle() : FileOps::openTargetFolder (folder, false);
    status.installed = target && FileOps::kindOf (target, bundleName (productName, k)) != FileOps::Kind::missing;

    if (! status.installed)
    {
        status.text = "NOT INSTALLED";
        return status;
    }

   #if JUCE_WINDOWS
    // Windows answers through its own version API.
    status.version = versionProbePath (bundlePath (folder, productName, k), productName, k).getVersion();
   #else
    status.version = readModuleVersion (openVersionProbe (target, productName, k));
   #endif

    status.text = status.version.isEmpty() ? juce::String ("INSTALLED")
                                           : "v" + status.version + " INSTALLED";
    return status;
}
