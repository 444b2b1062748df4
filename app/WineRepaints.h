#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_WINDOWS
/** True when the program runs under Wine rather than Windows. */
bool isRunningUnderWine();

/** JUCE's Windows peer holds repaints back until the display's vertical blank,
    which it waits for through DXGI. Wine's DXGI never reports one, so under
    Wine nothing after the first paint would reach the screen. This hands the
    window's pending repaints on at display rate instead. */
class WineRepaintFlusher final : private juce::Timer
{
public:
    explicit WineRepaintFlusher (juce::Component& windowToFlush) : window (windowToFlush)
    {
        startTimerHz (60);
    }

    ~WineRepaintFlusher() override  { stopTimer(); }

private:
    void timerCallback() override
    {
        if (auto* peer = window.getPeer())
            peer->performAnyPendingRepaintsNow();
    }

    juce::Component& window;

    JUCE_DECLARE_NON_COPYABLE (WineRepaintFlusher)
};
#endif
