#pragma once

#include <juce_core/juce_core.h>

/** Moves this process into a private mount namespace and lays empty temporary
    filesystems over the given folders, so that the real program's machine-wide
    paths can be used without touching the machine. Needs root. */
juce::Result hideMachineFolders (std::initializer_list<const char*> folders);

/** True when path is the mount point of a tmpfs (not merely a folder on one):
    what hideMachineFolders lays over a machine folder. */
bool isTmpfsMountPoint (const char* path);
