#pragma once

#include <juce_core/juce_core.h>

/** Opens a web or mail link with the desktop's own handler, in the name of the
    desktop user rather than of the administrator this program runs as.

    Linux: run as root by pkexec or sudo (PKEXEC_UID, else SUDO_UID, names the
    user), a child takes that user's groups, ids, home and session bus and runs
    xdg-open with the link as its one argument, no shell. A variable that names
    no usable user opens nothing. Root with neither variable, the user is root:
    the framework's launcher as before. Not root: xdg-open as ourselves.

    Windows, elevated: through the desktop's Explorer, so the handler starts at
    the user's own level; where that cannot be reached, nothing is started as
    the administrator: the address goes to the clipboard. Not elevated: ShellExecute.

    False when nothing was started. */
bool openLinkAsDesktopUser (const juce::URL& link);
