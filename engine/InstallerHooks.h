#pragma once

#include <chrono>
#include <functional>

/** Knobs of the install operation that only tests and the benchmark turn. */
struct InstallerHooks
{
    /** Replace a bundle in two renames, as where the filesystem cannot swap two entries. */
    bool forceTwoRenames = false;

    /** Runs after the old bundle is set aside and before the new one takes its place. */
    std::function<void()> betweenRenames;

    /** Runs when the staged bundle is whole and on the disk, before anything is renamed. */
    std::function<void()> beforeReplacing;

    /** How the staged bundle is put on the disk before it replaces the old one. */
    enum class Durability
    {
        syncEach,         ///< fsync every staged file and folder
        syncFilesystem,   ///< one syncfs for the target folder's filesystem
        none              ///< measurement only: a power loss can then leave an empty bundle
    };

    Durability durability = Durability::syncEach;

    /** Seconds spent in each part of the install, added up while a benchmark
        points this somewhere; the rest of an install's time is folder work. */
    struct Timings
    {
        double inflate = 0;   ///< inflating, the CRC-32 of what comes out included
        double crc = 0;       ///< the CRC-32 of stored entries
        double write = 0;     ///< writing what came out to the files
        double sync = 0;      ///< putting the staged bundle and the swap on the disk
    };

    Timings* timings = nullptr;
};

/** The knobs in force for this process. */
InstallerHooks& installerHooks();

/** False only when a benchmark measures the install without putting it on the disk. */
inline bool durableAtAll()   { return installerHooks().durability != InstallerHooks::Durability::none; }

/** Adds the time until it goes to one part of a benchmark's timings, when a
    benchmark asks for them. */
class PartTimer
{
public:
    explicit PartTimer (double InstallerHooks::Timings::* partToAddTo) noexcept
        : timings (installerHooks().timings), part (partToAddTo)
    {
        if (timings != nullptr)
            start = std::chrono::steady_clock::now();
    }

    ~PartTimer()
    {
        if (timings != nullptr)
            timings->*part += std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
    }

    PartTimer (const PartTimer&) = delete;
    PartTimer& operator= (const PartTimer&) = delete;

private:
    InstallerHooks::Timings* timings;
    double InstallerHooks::Timings::* part;
    std::chrono::steady_clock::time_point start;
};
