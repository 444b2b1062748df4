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
    way, may be changed by someone else; whyNot then says which, for the log,
    and untrusted is set in the second case. */
FileOps::Handle open (const juce::File& folder, juce::String* whyNot = nullptr, bool* untrusted = nullptr);

/** Takes the lock of one bundle name without waiting. Held for as long as the
    returned handle lives; result says busy when another run holds it. */
FileOps::Handle lockBundle (const FileOps::Handle& state, const juce::String& bundleFileName, FileOps::Lock& result);

//==============================================================================
/** What a run makes beside a bundle in its target folder and may leave there
    when it is killed: a staging folder, or the old bundle set aside during a
    replacement in two renames. */
enum class Made { staging, setAside };

/** Records, on the disk, that this run made the object (by its identity, not
    by its name or its owner, which others can give an object too). True when
    the record is durable. */
bool recordMade (const FileOps::Handle& state, const juce::String& bundleFileName, Made, const FileOps::Identity&);

/** True when a run recorded the object at name below folder as one it made
    for this bundle name: only then is a leftover ours to delete or to put back.
    Records outlive restarts and new mounts of the disk. */
bool wasMade (const FileOps::Handle& state, const juce::String& bundleFileName, Made, const FileOps::Handle& folder,
              const FileOps::Name& name);

/** Drops the record once the object is gone, or back at the bundle path. False
    when it could not be dropped. */
bool forgetMade (const FileOps::Handle& state, const juce::String& bundleFileName, Made, const FileOps::Identity&);

/** Drops every record of this bundle name but those of the objects still
    present: what a run killed after deleting an object, before dropping its
    record, left. False when one could not be dropped. */
bool forgetAllBut (const FileOps::Handle& state, const juce::String& bundleFileName, const std::vector<FileOps::Identity>& present);
} // namespace StateFolder
