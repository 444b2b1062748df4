#include "Utf8.h"

bool isWellFormedUtf8 (const void* data, size_t size)
{
    const auto* p = static_cast<const juce::uint8*> (data);

    for (const auto* end = p + size; p < end;)
    {
        const auto lead = *p++;

        if (lead < 0x80)
            continue;

        // Continuation bytes that follow, and the range the first of them must lie in.
        int more = 0;
        juce::uint8 low = 0x80, high = 0xbf;

        if      (lead >= 0xc2 && lead <= 0xdf)  more = 1;
        else if (lead == 0xe0)                  { more = 2; low = 0xa0; }
        else if (lead == 0xed)                  { more = 2; high = 0x9f; }
        else if (lead >= 0xe1 && lead <= 0xef)  more = 2;
        else if (lead == 0xf0)                  { more = 3; low = 0x90; }
        else if (lead == 0xf4)                  { more = 3; high = 0x8f; }
        else if (lead >= 0xf1 && lead <= 0xf3)  more = 3;
        else                                    return false;

        if (end - p < more || *p < low || *p > high)
            return false;

        for (int i = 0; i < more; ++i, ++p)
            if ((*p & 0xc0) != 0x80)
                return false;
    }

    return true;
}
