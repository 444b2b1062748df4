#pragma once

#include <juce_core/juce_core.h>

/** UTF-8 as the standard has it: no stray continuation bytes, no character cut
    off, none spelt in more bytes than it needs, no surrogates, nothing past
    U+10FFFF. */
bool isWellFormedUtf8 (const void* data, size_t size);
