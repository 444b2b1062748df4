#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_LINUX || JUCE_BSD
/** The framework reads X events when its connection to the display becomes
    readable. Every call that waits for a reply (a pointer query, a sync, a
    look for a finished paint) also reads the events that came before that
    reply into Xlib's own queue, where they then wait unseen until the next
    event arrives: a click made with the pointer held still, or the last step
    of a move, is acted on only at the next motion, or never when none comes.
    This looks at display rate and, where such events wait, sends the window an
    event of its own, which the framework ignores, so that the connection
    becomes readable and the framework delivers everything waiting. */
class XEventWake final : private juce::Timer
{
public:
    explicit XEventWake (juce::Component& windowOnTheDesktop);
    ~XEventWake() override;

    /** Events waiting in Xlib's queue right now, unseen by the framework. */
    static int eventsWaiting();

private:
    void timerCallback() override;

    juce::Component& window;
    unsigned long wakeType = 0;

    JUCE_DECLARE_NON_COPYABLE (XEventWake)
};
#endif
