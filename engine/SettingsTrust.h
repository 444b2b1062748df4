#pragma once

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
/** Whether the elevated program may let a settings file or folder steer where
    it writes and deletes: only when no one but administrators can change it. */
namespace SettingsTrust
{
    /** Owned by Administrators, SYSTEM, TrustedInstaller or this process's own
        administrator account, with no allow entry that gives Users,
        Authenticated Users, Everyone or Interactive the right to write, append,
        delete, or change permissions or owner. Takes a security descriptor. */
    bool isTrustedDescriptor (const void* securityDescriptor);

    /** The rule on what is at the path now; nothing there is trusted. */
    bool isTrusted (const juce::File& path);
}
#endif
