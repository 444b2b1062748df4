#include "WineRepaints.h"

#if JUCE_WINDOWS
 #include <windows.h>

bool isRunningUnderWine()
{
    // Wine's ntdll exports its own version query; Windows' never does.
    const auto ntdll = GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}
#endif
