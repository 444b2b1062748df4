#include "TempFolder.h"

TempFolder::TempFolder()
    : folder (juce::File::getSpecialLocation (juce::File::tempDirectory)
                  .getNonexistentChildFile ("oh_test_", "", false))
{
    folder.createDirectory();
}

TempFolder::~TempFolder()
{
    // Tests may leave read-only folders behind; recursive deletion copes as root.
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
