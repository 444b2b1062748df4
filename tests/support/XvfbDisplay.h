#pragma once

#include <juce_core/juce_core.h>

/** A private Xvfb server for the lifetime of the object; sets DISPLAY to it. */
class XvfbDisplay
{
public:
    XvfbDisplay();
    ~XvfbDisplay();

    bool isRunning() const noexcept            { return pid > 0; }
    const juce::String& getName() const        { return name; }
    const juce::String& getError() const       { return error; }

private:
    int pid = -1;
    juce::String name, error;
};
