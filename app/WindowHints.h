#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace WindowHints
{
    /** Tells the window manager what the window's constrainer enforces for our
        own resizer: a fixed aspect ratio and the minimum and maximum size of the
        client area. The framework passes only the limits, and rewrites the
        hints whenever it places the window, so the window calls this after
        each placement. Does nothing where the system frame already follows
        the constrainer. */
    void apply (juce::ResizableWindow&);

    /** The application icon as the window manager shows it. */
    void setIcon (juce::DocumentWindow&);
}
