// The X headers and the framework's X wrappers are needed to talk to the window manager.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "WindowManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

juce::String commandOutput (const juce::String& command)
{
    juce::ChildProcess p;
    if (! p.start (juce::StringArray { "sh", "-c", command }))
        return {};
    auto text = p.readAllProcessOutput();
    p.waitForProcessToFinish (10000);
    return text.trim();
}

WindowManager::WindowManager()
{
    if (! process.start (juce::StringArray { "openbox", "--sm-disable" }, 0))
        return;

    // openbox announces itself on the root window once it manages the screen.
    for (int i = 0; i < 200 && ! running; ++i)
    {
        running = commandOutput ("xprop -root _NET_SUPPORTING_WM_CHECK").contains ("window id");
        if (! running)
            juce::Thread::sleep (50);
    }
}

WindowManager::~WindowManager()
{
    process.kill();
}

bool WindowManager::askToClose (unsigned long windowId)
{
    auto* x11 = juce::X11Symbols::getInstance();
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    if (display == nullptr)
        return false;

    const juce::XWindowSystemUtilities::ScopedXLock lock;
    const auto root = x11->xDefaultRootWindow (display);

    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = (::Window) windowId;
    event.xclient.message_type = x11->xInternAtom (display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;   // from a pager or taskbar: the manager obeys it unconditionally

    const auto sent = x11->xSendEvent (display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event) != 0;
    x11->xSync (display, False);
    return sent;
}

RootWindowEvents::RootWindowEvents()
{
    auto* x11 = juce::X11Symbols::getInstance();
    auto* d = x11->xOpenDisplay (nullptr);
    if (d == nullptr)
        return;

    x11->xSelectInput (d, x11->xDefaultRootWindow (d), SubstructureNotifyMask);
    x11->xSync (d, False);
    display = d;
}

RootWindowEvents::~RootWindowEvents()
{
    if (display != nullptr)
        juce::X11Symbols::getInstance()->xCloseDisplay (static_cast<::Display*> (display));
}

RootWindowEvents::Counts RootWindowEvents::take()
{
    Counts counts;
    if (display == nullptr)
    {
        counts.created = -1;   // no connection: never a count a caller expects
        return counts;
    }

    auto* x11 = juce::X11Symbols::getInstance();
    auto* d = static_cast<::Display*> (display);
    x11->xSync (d, False);

    while (x11->xPending (d) > 0)
    {
        XEvent event;
        x11->xNextEvent (d, &event);
        counts.created += event.type == CreateNotify ? 1 : 0;
        counts.mapped += event.type == MapNotify ? 1 : 0;
        counts.destroyed += event.type == DestroyNotify ? 1 : 0;
    }
    return counts;
}
