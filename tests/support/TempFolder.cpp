#include "TempFolder.h"

#include <cstdio>
#include <cstdlib>

#if JUCE_WINDOWS
 #include "SecurityStandIn.h"
 #include <direct.h>
#else
 #include <sys/stat.h>
#endif

namespace
{
    // Tests run as parallel processes: the name must be taken atomically, or two
    // of them could share (and delete) one folder.
    juce::File makeUniqueFolder()
    {
        const auto base = juce::File::getSpecialLocation (juce::File::tempDirectory);

       #if JUCE_WINDOWS
        // Creating a folder that already exists fails, so a taken name is never shared.
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            const auto folder = base.getChildFile ("oh_test_" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));

            if (_wmkdir (folder.getFullPathName().toWideCharPointer()) == 0)
                return folder;
        }

        // Without a folder every path of a test would resolve against the drive's root.
        std::fprintf (stderr, "TempFolder: cannot make a folder below %s\n", base.getFullPathName().toRawUTF8());
        std::abort();
       #else
        auto pattern = base.getChildFile ("oh_test_XXXXXX").getFullPathName().toStdString();

        // Without a folder every path of a test would resolve against "/", and
        // tests run as root: stop here, in every build type.
        if (mkdtemp (pattern.data()) == nullptr
             || chmod (pattern.c_str(), 0755) != 0)   // like an ordinary folder, not mkdtemp's owner-only one
        {
            std::perror (("TempFolder: cannot make " + pattern).c_str());
            std::abort();
        }

        return juce::File (pattern);
       #endif
    }
}

TempFolder::TempFolder()
    : folder (makeUniqueFolder())
{
   #if JUCE_WINDOWS
    // Like C:\Program Files: only Administrators and SYSTEM may change what
    // is below it, so that the elevated program may take what it finds here
    // (a set-aside bundle, a settings file) for its own.
    SecurityStandIn::apply (folder, "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)");
   #endif
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
    paths.stateFolder = folder.getChildFile ("state");   // made by the run that needs it

    for (auto* f : { &paths.defaultFolderBase, &paths.commonAppDataFolder, &paths.temporaryFolder })
        f->createDirectory();

    return paths;
}
