// The settings file from fuzzed bytes, resolved as at start-up.
//
// After every input:
// - the file has its old bytes: a file that is there is only read, never
//   replaced, whatever it holds;
// - a file that yields no folders (unreadable, not XML) keeps all the defaults.
// Values may name any folder, relative ones below the working directory:
// the target runs with the machine read-only except its workspace, the
// working directory is a folder of it, and what they made is removed after
// every input.
#include "FuzzSandbox.h"
#include "Settings.h"

#include <cstring>
#include <unistd.h>

namespace
{
    juce::File workspace, appData, settingsFile, workingFolder;
    PerFormat<juce::File> defaults;

    /** Values may create folders anywhere in the workspace: only the way to keep stays. */
    void removeAllBut (const juce::File& folder, const juce::File& keep)
    {
        for (auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
        {
            if (f == keep)
                continue;

            if (keep.isAChildOf (f) && ! f.isSymbolicLink())
                removeAllBut (f, keep);
            else if (f != workingFolder)
                FuzzSandbox::removeTree (f);
            else
                removeAllBut (f, keep);
        }
    }
}

extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv)
{
    workspace = FuzzSandbox::makeWorkspace ("settings");
    FuzzSandbox::removeAtExit (workspace);

    appData = workspace.getChildFile ("appdata");
    settingsFile = appData.getChildFile ("Oakhaze/PluginManagerSettings.txt");
    workingFolder = workspace.getChildFile ("cwd");
    defaults = defaultFormatFolders (workspace.getChildFile ("lib"));

    FuzzSandbox::confineWritesTo (workspace, *argc, *argv);

    if (! settingsFile.getParentDirectory().createDirectory() || ! workingFolder.createDirectory())
        FuzzSandbox::fail ("cannot lay out " + workspace.getFullPathName());

    // After the mounts: the arguments named their folders from the old working directory.
    if (chdir (workingFolder.getFullPathName().toRawUTF8()) != 0)
        FuzzSandbox::fail ("cannot enter " + workingFolder.getFullPathName());

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    FuzzSandbox::writeFile (settingsFile, data, size);

    const auto resolved = resolveSettings (appData, defaults);

    juce::MemoryBlock after;

    if (! settingsFile.loadFileAsData (after) || after.getSize() != size
         || (size > 0 && std::memcmp (after.getData(), data, size) != 0))
        FuzzSandbox::fail ("resolving changed the settings file");

    if (resolved.settingsFolder != settingsFile.getParentDirectory())
        FuzzSandbox::fail ("the settings folder moved");

    // Without a '<' there is no element, in any encoding.
    if (std::memchr (data, '<', size) == nullptr && resolved.formatFolders != defaults)
        FuzzSandbox::fail ("a file that is not XML changed the folders");

    removeAllBut (workspace, settingsFile);
    return 0;
}
