#pragma once

#include <juce_core/juce_core.h>

/** Opens a web or mail link with the desktop's own handler, in the name of the
    desktop user.

    Linux: the window runs as that user: xdg-open with the link as its one
    argument, no shell (a link may hold what a shell reads: & ; ( ).

    Windows, elevated: through the desktop's Explorer, so the handler starts at
    the user's own level; where that cannot be reached, nothing is started as
    the administrator: the address goes to the clipboard. Not elevated: ShellExecute.

    Says what became of the link. */
enum class LinkOpening
{
    started,       ///< a handler was started with it
    onClipboard,   ///< nothing started: the address waits on the clipboard
    failed         ///< nothing started, nothing copied
};

LinkOpening openLinkAsDesktopUser (const juce::URL& link);

/** What the hint line tells the user when a link did not start; empty when it did. */
juce::String linkOpeningHint (LinkOpening);
