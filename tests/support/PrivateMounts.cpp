#include "PrivateMounts.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <linux/magic.h>
#include <string>

juce::Result hideMachineFolders (std::initializer_list<const char*> folders)
{
    if (unshare (CLONE_NEWNS) != 0)
        return juce::Result::fail ("unshare (CLONE_NEWNS) failed: tests that use the real machine folders must run as root");

    // Keep our mounts from propagating back to the machine.
    if (mount (nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return juce::Result::fail ("could not make / private");

    for (auto* folder : folders)
    {
        juce::File (folder).createDirectory();

        if (mount ("tmpfs", folder, "tmpfs", 0, "mode=0755,size=512m") != 0)
            return juce::Result::fail (juce::String ("could not mount a tmpfs over ") + folder);
    }

    return juce::Result::ok();
}

bool isTmpfsMountPoint (const char* path)
{
    struct statfs fs;
    struct stat here, parent;

    if (statfs (path, &fs) != 0 || fs.f_type != TMPFS_MAGIC)
        return false;

    // A mount point lies on another device than its parent folder.
    return stat (path, &here) == 0 && stat ((std::string (path) + "/..").c_str(), &parent) == 0 && here.st_dev != parent.st_dev;
}
