#pragma once

#include <juce_core/juce_core.h>

/** openbox on the current DISPLAY for the lifetime of the object: a real
    window manager that reads the size hints and answers outside requests. */
class WindowManager
{
public:
    WindowManager();
    ~WindowManager();

    bool isRunning() const noexcept   { return running; }

private:
    juce::ChildProcess process;
    bool running = false;
};
