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
