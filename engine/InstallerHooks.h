#pragma once

#include <functional>

/** Knobs of the install operation that only tests and the benchmark turn. */
struct InstallerHooks
{
    /** Replace a bundle in two renames, as where the filesystem cannot swap two entries. */
    bool forceTwoRenames = false;

    /** Runs after the old bundle is set aside and before the new one takes its place. */
    std::function<void()> betweenRenames;

    /** How the staged bundle is put on the disk before it replaces the old one. */
    enum class Durability
    {
        syncEach,         ///< fsync every staged file and folder
        syncFilesystem,   ///< one syncfs for the target folder's filesystem
        none              ///< measurement only: a power loss can then leave an empty bundle
    };

    Durability durability = Durability::syncEach;

    /** How an entry's content reaches its file. */
    enum class EntryOutput
    {
        bySize,     ///< as shipped: memory up to wholeEntryLimit, mapped above it
        memory,     ///< inflated whole into memory, then written
        mapped,     ///< inflated whole into the mapped file; streamed where it cannot be mapped
        streamed    ///< inflated piece by piece through a small buffer
    };

    EntryOutput entryOutput = EntryOutput::bySize;
};

/** The knobs in force for this process. */
InstallerHooks& installerHooks();
