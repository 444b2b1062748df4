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

/** Installs (or, with uninstall, removes) every selected format's bundle, in the
    order VST3, CLAP, AAX. Each processed selection entry comes back false.
    True only when at least one format was processed and every one succeeded.
    outcomes, when given, receives each format's own ending. */
bool processSelectedFormats (PerFormat<bool>& selection,
                             bool uninstall,
                             const PerFormat<juce::File>& folders,
                             const juce::String& productName,
                             const PerFormat<PayloadArchive>& payloads = embeddedPayloads(),
                             PerFormat<FormatOutcome>* outcomes = nullptr);

/** Puts back every bundle that a run killed in the middle of a replacement
    left set aside while its bundle path is empty. Called at start, before the
    presence test; every install or uninstall does the same first. */
void restoreSetAsideBundles (const PerFormat<juce::File>& folders, const juce::String& productName);

/** Where the old bundle waits while a replacement in two renames is under
    way, beside the bundle in its target folder. */
juce::String setAsideName (const juce::String& bundleFileName);

/** Removes a leftover "script.sh" from the temporary folder at shutdown. */
void removeLeftoverScript (const juce::File& temporaryFolder);
