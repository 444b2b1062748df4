#pragma once

#include <juce_core/juce_core.h>

/** What a shell command prints, trimmed; empty when it cannot start. */
juce::String commandOutput (const juce::String& command);

/** openbox on the current DISPLAY for the lifetime of the object: a real
    window manager that reads the size hints and answers outside requests. */
class WindowManager
{
public:
    WindowManager();
    ~WindowManager();

    bool isRunning() const noexcept   { return running; }

    /** Asks the window manager to close a window, as a taskbar's "Close" or the
        frame's close button does (_NET_CLOSE_WINDOW; the manager then sends the
        client WM_DELETE_WINDOW). */
    static bool askToClose (unsigned long windowId);

private:
    juce::ChildProcess process;
    bool running = false;
};

/** Counts what happens to the root window's children from the moment of
    construction, seen through a connection of its own as another client would
    see it: windows created, mapped and destroyed. */
class RootWindowEvents
{
public:
    RootWindowEvents();
    ~RootWindowEvents();

    struct Counts { int created = 0, mapped = 0, destroyed = 0; };

    /** What arrived since the last call (after a round trip to the server). */
    Counts take();

private:
    void* display = nullptr;
};
