#include "TempFolder.h"

#include <cstdlib>
#include <sys/stat.h>

namespace
{
    // Tests run as parallel processes: the name must be taken atomically, or two
    // of them could share (and delete) one folder.
    juce::File makeUniqueFolder()
    {
        const auto base = juce::File::getSpecialLocation (juce::File::tempDirectory);
        auto pattern = base.getChildFile ("oh_test_XXXXXX").getFullPathName().toStdString();

        if (mkdtemp (pattern.data()) == nullptr)
            return {};

        // Like an ordinary folder, not mkdtemp's owner-only one.
        chmod (pattern.c_str(), 0755);

        return juce::File (pattern);
    }
}

TempFolder::TempFolder()
    : folder (makeUniqueFolder())
{
    jassert (folder.isDirectory());
}

TempFolder::~TempFolder()
{
    // Tests may leave read-only folders behind; recursive deletion copes as root.
    if (folder != juce::File())
        folder.deleteRecursively (false);
}

SystemPaths TempFolder::systemPaths() const
{
    SystemPaths paths;
    paths.defaultFolderBase = folder.getChildFile ("lib");
    paths.commonAppDataFolder = folder.getChildFile ("appdata");
    paths.temporaryFolder = folder.getChildFile ("tmp");

    for (auto* f : { &paths.defaultFolderBase, &paths.commonAppDataFolder, &paths.temporaryFolder })
        f->createDirectory();

    return paths;
}
