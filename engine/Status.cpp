#include "Status.h"

#include "FileOps.h"
#include "Installer.h"
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
        time, never through a link and never blocking on what it finds. The
        bundle is found under entryName: its own, or the name it waits under. */
    FileOps::Handle openVersionProbe (const FileOps::Handle& target, const juce::String& entryName,
                                      const juce::String& productName, int k)
    {
        if (k != 2)
            return FileOps::openForReading (target, entryName);

        const auto outer = FileOps::openFolder (target, entryName);
        const auto contents = outer ? FileOps::openFolder (outer, "Contents") : FileOps::Handle();
        const auto x64 = contents ? FileOps::openFolder (contents, "x64") : FileOps::Handle();
        return x64 ? FileOps::openForReading (x64, bundleName (productName, k)) : FileOps::Handle();
    }

    /** A bundle that a killed replacement set aside, while its own name is
        empty: the next install or uninstall puts it back, so it is installed.
        It counts only where it can be ours: in a folder only the privileged
        accounts can change, and unchangeable by anyone else itself. */
    bool isWaitingAside (const FileOps::Handle& target, const juce::String& asideName, int k)
    {
        if (FileOps::kindOf (target, asideName) == FileOps::Kind::missing || ! FileOps::onlyPrivilegedCanChange (target))
            return false;

        const auto aside = k == 1 ? FileOps::openForReading (target, asideName) : FileOps::openFolder (target, asideName);
        return aside && FileOps::onlyPrivilegedCanChange (aside, false);
    }
   #endif
}

namespace
{
    /** The opened target folder and the name the bundle is found under, empty when it is missing. */
    struct Found
    {
        FileOps::Handle target;
        juce::String entryName;
    };

    Found findBundle (const juce::File& folder, const juce::String& productName, int k)
    {
        // The target folder is opened by the rule the install follows, so the
        // status shows what an install or uninstall would act on.
        Found found;
        found.target = folder == juce::File() ? FileOps::Handle() : FileOps::openTargetFolder (folder, false);

        if (! found.target)
            return found;

        const auto name = bundleName (productName, k);

        if (FileOps::kindOf (found.target, name) != FileOps::Kind::missing)
            found.entryName = name;
       #if ! JUCE_WINDOWS
        // Windows' window runs elevated and puts such a bundle back itself at start.
        else if (isWaitingAside (found.target, setAsideName (name), k))
            found.entryName = setAsideName (name);
       #endif

        return found;
    }
}

bool probeFormatInstalled (const juce::File& folder, const juce::String& productName, int k)
{
    return findBundle (folder, productName, k).entryName.isNotEmpty();
}

FormatStatus probeFormatStatus (const juce::File& folder, const juce::String& productName, int k)
{
    FormatStatus status;
    const auto found = findBundle (folder, productName, k);
    status.installed = found.entryName.isNotEmpty();

    if (! status.installed)
    {
        status.text = "NOT INSTALLED";
        return status;
    }

   #if JUCE_WINDOWS
    // Windows answers through its own version API.
    status.version = versionProbePath (bundlePath (folder, productName, k), productName, k).getVersion();
   #else
    status.version = readModuleVersion (openVersionProbe (found.target, found.entryName, productName, k));
   #endif

    status.text = status.version.isEmpty() ? juce::String ("INSTALLED")
                                           : "v" + status.version + " INSTALLED";
    return status;
}
