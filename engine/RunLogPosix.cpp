#include "RunLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <syslog.h>
#include <unistd.h>

namespace RunLog
{
juce::String startedBy()
{
    juce::String text;
    text << "uid " << (int) getuid();

    // Who asked for root, as pkexec or sudo tells it: a number, never a name.
    for (const char* variable : { "PKEXEC_UID", "SUDO_UID" })
    {
        const char* value = std::getenv (variable);

        if (value != nullptr && *value != 0 && std::strspn (value, "0123456789") == std::strlen (value) && std::strlen (value) <= 10)
        {
            text << " for uid " << value << " (" << (variable[0] == 'P' ? "pkexec" : "sudo") << ")";
            break;
        }
    }

    return text;
}

void writeToSystem (Event event, const juce::String& line)
{
    // Opened once; glibc reconnects by itself when the log's socket comes back.
    static const bool opened = [] { openlog ("oh_installer", LOG_PID, LOG_USER); return true; }();
    juce::ignoreUnused (opened);

    syslog (event == Event::failed ? LOG_ERR : LOG_INFO, "%s", line.toRawUTF8());
}

juce::String systemErrorText (int code)
{
    char buffer[256];
    return juce::String (juce::CharPointer_UTF8 (strerror_r (code, buffer, sizeof (buffer))));
}

int lastSystemError()                   { return errno; }
void restoreLastSystemError (int code)  { errno = code; }
} // namespace RunLog
