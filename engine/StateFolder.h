#pragma once

#include "FileOps.h"

/** The folder where privileged runs keep what must outlive a single run: one
    lock per bundle name, so that two runs never work on the same format at
    once, and the records a run leaves of the objects it made. Linux:
    /var/lib/oakhaze; Windows: Oakhaze\State below Common Files. Nobody but the
    privileged accounts may change it or any folder on the way to it, so that
    what it holds can be believed. */
namespace StateFolder
{
/** Opens the folder, made when missing (with any missing parents).
    Invalid when it cannot be made or opened, or when it, or a folder on the
    way, may be changed by someone else; whyNot then says which, for the log. */
FileOps::Handle open (const juce::File& folder, juce::String* whyNot = nullptr);

/** Takes the lock of one bundle name without waiting. Held for as long as the
    returned handle lives; result says busy when another run holds it. */
FileOps::Handle lockBundle (const FileOps::Handle& state, const juce::String& bundleFileName, FileOps::Lock& result);
} // namespace StateFolder
