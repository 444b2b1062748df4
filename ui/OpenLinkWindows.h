#pragma once

#include <juce_core/juce_core.h>

#include <functional>

/** The steps below openLinkAsDesktopUser on Windows. Every member is set; a
    test swaps one and puts the system's back when it is done. */
namespace OpenLinkWindows
{
struct Calls
{
    std::function<bool()> isElevated;

    /** Asks the desktop's Explorer, which runs as the signed-in user at their
        own level, to start the link's handler; false when it cannot. */
    std::function<bool (const juce::String& link)> throughDesktopExplorer;

    /** ShellExecuteW from this process, with its token. */
    std::function<bool (const juce::String& link)> shellExecute;

    /** Puts the link on the clipboard as text. */
    std::function<void (const juce::String& link)> copyToClipboard;
};

Calls& calls();
Calls systemCalls();

/** True when the desktop's Explorer hands out its shell object to this
    process, asked in the documented form; starts nothing. */
bool desktopExplorerAnswers();
} // namespace OpenLinkWindows
