#include "RunLog.h"
#include "SettingsTrust.h"

#include <windows.h>

namespace RunLog
{
namespace
{
    // The event source of our own, and where the Application log keeps it.
    const wchar_t* const sourceName = L"Oakhaze Plugin Manager";
    const wchar_t* const sourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Oakhaze Plugin Manager";

    /** The source's texts come from the system's own EventCreate.exe, whose
        message table gives every id from 1 to 1000 as its one string: each
        event is its one line. It lies in System32, which no one but the
        system's installer may change, and is there on every Windows; never
        this copy of the program, which usually runs from a folder its user may
        change (Downloads) and is deleted later. Registered when an
        administrator runs us; without it the log still keeps the line. */
    const wchar_t* const messageFile = L"%SystemRoot%\\System32\\EventCreate.exe";

    void registerSource()
    {
        const auto length = (DWORD) wcslen (messageFile);
        HKEY key = nullptr;

        if (RegCreateKeyExW (HKEY_LOCAL_MACHINE, sourceKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                             nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;

        wchar_t current[MAX_PATH + 1] {};
        DWORD currentSize = sizeof (current) - sizeof (wchar_t);
        DWORD type = 0;

        if (RegQueryValueExW (key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*> (current), &currentSize) != ERROR_SUCCESS
             || type != REG_EXPAND_SZ || lstrcmpiW (current, messageFile) != 0)
        {
            RegSetValueExW (key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*> (messageFile),
                            (length + 1) * sizeof (wchar_t));
            const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
            RegSetValueExW (key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*> (&types), sizeof (types));
        }

        RegCloseKey (key);
    }
}

juce::String startedBy()
{
    return SettingsTrust::processIsElevated() ? "an administrator (elevated)" : "a user (not elevated)";
}

void writeToSystem (Event event, const juce::String& line)
{
    static const HANDLE source = []
    {
        registerSource();
        return RegisterEventSourceW (nullptr, sourceName);
    }();

    if (source == nullptr)
        return;

    const auto text = line.toWideCharPointer();
    const wchar_t* strings[] = { text };
    ReportEventW (source, event == Event::failed ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE,
                  0, (DWORD) event, nullptr, 1, 0, strings, nullptr);
}

juce::String systemErrorText (int code)
{
    wchar_t* buffer = nullptr;
    const auto length = FormatMessageW (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, (DWORD) code, 0, reinterpret_cast<wchar_t*> (&buffer), 0, nullptr);
    juce::String text;

    if (length > 0 && buffer != nullptr)
        text = juce::String (buffer, (size_t) length).trim();

    LocalFree (buffer);
    return text.isNotEmpty() ? text : "error " + juce::String (code);
}

int lastSystemError()                   { return (int) GetLastError(); }
void restoreLastSystemError (int code)  { SetLastError ((DWORD) code); }
} // namespace RunLog
