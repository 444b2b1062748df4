#include "WindowManager.h"

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
