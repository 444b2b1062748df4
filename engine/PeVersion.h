#pragma once

#include <juce_core/juce_core.h>

/** The fixed file version of a Windows PE module, read from the
    VS_FIXEDFILEINFO of its RT_VERSION resource, as "a.b.c.d".

    Works on every platform: only the headers and the resource data on the way
    to the version are read, each offset checked against the file first.
    Empty for a folder, a missing or unreadable file, a file that is not a PE
    module, a module without a version resource, and a truncated or malformed
    file.
*/
juce::String readFileVersion (const juce::File& file);
