#pragma once

#include "FileOps.h"

#include <functional>

/** The fixed file version of a Windows PE module, read from the
    VS_FIXEDFILEINFO of its RT_VERSION resource, as "a.b.c.d".

    Works on every platform: only the headers and the resource data on the way
    to the version are read, each offset checked against the file first.
    Empty for a folder, a missing or unreadable file, a file that is not a PE
    module, a module without a version resource, and a truncated or malformed
    file.
*/
juce::String readFileVersion (const juce::File& file);

/** The same, from a plain file opened by FileOps::openForReading: the file is
    checked and read through that one handle, never looked up again by name. */
juce::String readModuleVersion (const FileOps::Handle& file);

/** The same, from a whole module in memory. */
juce::String readModuleVersion (const void* data, size_t size);

/** Runs after a module has been opened and checked and before it is read;
    empty but for tests that change what lies at the module's path there. */
std::function<void()>& versionProbeSeam();
