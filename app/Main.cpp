#include "Application.h"

// The framework is handed no arguments: the window never looks at its command
// line, and the framework would turn every argument into text before any of
// our code runs, trusting bytes that anyone starting us may choose.

#if JUCE_WINDOWS
 #include <windows.h>

#include <windows.h>

namespace
{
    /** Whether the command line is UTF-16 that the framework can read safely:
        a high surrogate with no low one after it would carry its reader past
        the terminating zero. */
    bool isWellFormedUtf16 (const wchar_t* text)
    {
        for (; *text != 0; ++text)
        {
            const auto c = (unsigned) *text;

            if (c >= 0xdc00 && c <= 0xdfff)
                return false;

            if (c >= 0xd800 && c <= 0xdbff)
            {
                const auto next = (unsigned) text[1];

                if (next < 0xdc00 || next > 0xdfff)
                    return false;

                ++text;
            }
        }

        return true;
    }
}

int WINAPI WinMain (HINSTANCE, HINSTANCE, LPSTR, int)
{
    // On Windows the framework asks the system for the command line itself.
    if (! isWellFormedUtf16 (GetCommandLineW()))
        return 1639;   // ERROR_INVALID_COMMAND_LINE

    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return new oh_installerApplication(); };
    return juce::JUCEApplicationBase::main();
}

#else

int main (int, char**)
{
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return new oh_installerApplication(); };
    return juce::JUCEApplicationBase::main();
}

#endif
