// The framework's own X11 declarations: its display and the Xlib calls it loaded.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "XEventWake.h"

#if JUCE_LINUX || JUCE_BSD
XEventWake::XEventWake (juce::Component& windowOnTheDesktop) : window (windowOnTheDesktop)
{
    if (auto* display = juce::XWindowSystem::getInstance()->getDisplay())
    {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        wakeType = juce::X11Symbols::getInstance()->xInternAtom (display, "_OH_INSTALLER_WAKE", False);
    }

    startTimerHz (60);
}

XEventWake::~XEventWake()
{
    stopTimer();
}

int XEventWake::eventsWaiting()
{
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();

    if (display == nullptr)
        return 0;

    juce::XWindowSystemUtilities::ScopedXLock lock;
    return juce::X11Symbols::getInstance()->xEventsQueued (display, QueuedAlready);
}

void XEventWake::timerCallback()
{
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    auto* peer = window.getPeer();

    if (display == nullptr || peer == nullptr || wakeType == 0 || eventsWaiting() == 0)
        return;

    XEvent wake {};
    wake.xclient.type = ClientMessage;
    wake.xclient.window = (::Window) peer->getNativeHandle();
    wake.xclient.message_type = wakeType;
    wake.xclient.format = 32;

    juce::XWindowSystemUtilities::ScopedXLock lock;
    juce::X11Symbols::getInstance()->xSendEvent (display, wake.xclient.window, False, NoEventMask, &wake);
    juce::X11Symbols::getInstance()->xFlush (display);
}
#endif
