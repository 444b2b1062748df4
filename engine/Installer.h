#pragma once

#include "Catalogue.h"
#include "RunLog.h"

/** An embedded payload archive: bytes that stay where they are. */
struct PayloadArchive
{
    const void* data = nullptr;
    size_t size = 0;
};

/** The embedded archives, entry k for format k. */
PerFormat<PayloadArchive> embeddedPayloads();

/** How long one format's run waits, at most, for files another program holds
    for a moment (a scanner, the indexer); see FileOps::BusyWaitBudget. */
constexpr juce::uint32 busyWaitPerFormatMs = 5000;

/** How one format of a run ended. */
struct FormatOutcome
{
    bool processed = false;     ///< it was selected
    bool succeeded = false;
    RunLog::Failure failure;    ///< the first failure, when it did not succeed; a cause or notes in any case
};

/** Where a run keeps its locks and its records (StateFolder.h). */
struct RunState
{
    juce::File folder;               ///< the state folder; none: nothing locked or recorded
    bool callerHoldsLocks = false;   ///< the caller holds each processed format's lock already
};

/** Installs (or, with uninstall, removes) every selected format's bundle, in the
    order VST3, CLAP, AAX. Each processed selection entry comes back false.
    True only when at least one format was processed and every one succeeded.
    outcomes, when given, receives each format's own ending.

    The state folder (SystemPaths::stateFolder, StateFolder.h) holds each
    bundle name's lock, so that one run at a time works on it, and the records
    of what a run made beside the bundle: a staging folder or a set-aside old
    bundle that a killed run left behind is deleted or put back only when its
    record says a run of ours made it. Without one, or with one that others
    could change (tests, benchmarks, Wine, which owns every file by the user),
    nothing is locked or recorded, and nothing left behind counts as ours; one
    that cannot be made or opened fails every format. */
bool processSelectedFormats (PerFormat<bool>& selection,
                             bool uninstall,
                             const PerFormat<juce::File>& folders,
                             const juce::String& productName,
                             const PerFormat<PayloadArchive>& payloads = embeddedPayloads(),
                             PerFormat<FormatOutcome>* outcomes = nullptr,
                             const RunState& runState = {});

/** Puts back every bundle that a run killed in the middle of a replacement
    left set aside while its bundle path is empty, when the state folder
    records it as set aside by us. Called at start, before the presence test;
    every install or uninstall does the same first. */
void restoreSetAsideBundles (const PerFormat<juce::File>& folders, const juce::String& productName,
                             const RunState& runState);

/** Where the old bundle waits while a replacement in two renames is under
    way, beside the bundle in its target folder. */
juce::String setAsideName (const juce::String& bundleFileName);

/** Removes a leftover "script.sh" from the temporary folder at shutdown. */
void removeLeftoverScript (const juce::File& temporaryFolder);
