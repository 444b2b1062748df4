#pragma once

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
/** Whether the elevated program may let a settings file, or something it finds
    in a target folder, steer where it writes and deletes: only when no one but
    Administrators, SYSTEM and TrustedInstaller can change it. The checks take
    security descriptors. */
namespace SettingsTrust
{
    /** Owned by Administrators, SYSTEM or TrustedInstaller. */
    bool hasTrustedOwner (const void* securityDescriptor);

    /** A file (or any entry) no one else can change: a trusted owner, and no
        allow entry of any kind gives another account the right to write,
        append, delete, or change its permissions or owner. */
    bool isTrustedDescriptor (const void* securityDescriptor);

    /** A folder in which no one else can delete, rename or re-permission
        entries, nor the folder itself: a trusted owner, and no allow entry
        gives another account delete-child, delete, write-DAC, write-owner or
        full control. Others may still add new entries. */
    bool isTrustedFolderDescriptor (const void* securityDescriptor);

    /** Makes folder, below a parent that exists, for the administrators alone
        (Users may read) when nothing is at its name; any user may create
        folders below ProgramData, and one made by them first would be theirs.
        Anything already there is left as it is, to be judged by its reader. */
    void makeFolderIfMissing (const juce::File& folder);

    /** Only the three may open it at all: a trusted owner, and no allow entry
        gives any other account any right. */
    bool isPrivateDescriptor (const void* securityDescriptor);

    /** True when this process runs with its administrator rights (an elevated token). */
    bool processIsElevated();

    enum class Stored
    {
        ignored,   ///< missing folder, a reparse point, or something others can change: the defaults hold
        read,      ///< the trusted file's bytes are in content
        created    ///< there was none; the defaults were written as a new file
    };

    /** Reads fileName below folder through one handle on the folder and one on
        the file, checking each on what was opened; when the folder is trusted
        and holds no such file, writes defaults as a new administrators-only file. */
    Stored readOrCreate (const juce::File& folder, const juce::String& fileName, size_t maxSize,
                         juce::MemoryBlock& content, const juce::MemoryBlock& defaults);
}
#endif
