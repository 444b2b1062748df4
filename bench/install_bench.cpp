// Install benchmark.
//
// 1. The three embedded formats, installed into fresh folders several times
//    and, in the same run, extracted from the same archives by JUCE's
//    uncompressTo, bsdtar and unzip: medians, ratio to bsdtar, the install's
//    anonymous memory.
// 2. Where the install's time goes: inflate, CRC-32, write and sync as the
//    install itself times them in the same runs; folder work is what remains.
//    For comparison, the same install made durable by one syncfs instead.
// 3. With --scaling: synthetic VST3 products of growing size, made by the
//    payload generator and packed by the payload packer into a temporary
//    folder, read from the mapped archive file; each installed by us and
//    extracted by bsdtar and unzip in the same run.
//
// Usage: oh_bench_install [runs] [--scaling] [--scaling-runs N]
//                         [--sizes MiB,MiB,...] [--csv-dir DIR]
#include "Installer.h"
#include "InstallerHooks.h"
#include "PayloadDirectory.h"
#include "ProcStatus.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

bool run (std::vector<std::string> args)
{
    std::vector<char*> argv;

    for (auto& a : args)
        argv.push_back (a.data());

    argv.push_back (nullptr);

    const auto pid = fork();

    if (pid == 0)
    {
        // unzip warns about every backslash separator; only the time matters here.
        if (freopen ("/dev/null", "w", stderr) == nullptr)
            _exit (126);

        execvp (argv[0], argv.data());
        _exit (127);
    }

    int status = 0;
    waitpid (pid, &status, 0);

    // unzip exits with 1 on the backslash warning; everything was extracted.
    return WIFEXITED (status) && (WEXITSTATUS (status) == 0 || (args[0] == "unzip" && WEXITSTATUS (status) == 1));
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    const auto n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

template <typename Fn>
double timeIt (Fn&& fn)
{
    const auto start = Clock::now();

    if (! fn())
    {
        std::fprintf (stderr, "a run failed\n");
        std::exit (1);
    }

    return std::chrono::duration<double> (Clock::now() - start).count();
}

/** Runs fn and returns the highest RssAnon growth seen while it ran, in kB,
    sampled from a side thread. */
template <typename Fn>
long anonGrowthKb (Fn&& fn)
{
    std::atomic<bool> done { false };
    std::atomic<long> peak { 0 };
    const auto before = statusKb ("RssAnon");

    std::thread sampler ([&]
    {
        while (! done)
        {
            peak = std::max (peak.load(), statusKb ("RssAnon"));
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });

    fn();
    done = true;
    sampler.join();
    return std::max (0L, peak.load() - before);
}

/** Extracts each archive with an external tool into its own folder below dest. */
bool extractWith (const char* tool, const std::vector<juce::File>& archives, const juce::File& dest)
{
    const bool isUnzip = std::string (tool) == "unzip";

    for (const auto& archive : archives)
    {
        const auto folder = dest.getChildFile (archive.getFileNameWithoutExtension());
        folder.createDirectory();

        if (! run ({ tool, isUnzip ? "-qo" : "-xf", archive.getFullPathName().toStdString(),
                     isUnzip ? "-d" : "-C", folder.getFullPathName().toStdString() }))
            return false;
    }

    return true;
}

const char* const formatFileNames[] = { "vst3", "clap", "aax" };

//==============================================================================
struct Options
{
    int runs = 7;
    bool scaling = false;
    int scalingRuns = 3;
    std::vector<int> sizesMiB { 16, 64, 256, 1024 };
    juce::File csvDir;
};

void writeCsv (const Options& options, const char* name, const std::string& text)
{
    if (options.csvDir == juce::File())
        return;

    options.csvDir.createDirectory();
    options.csvDir.getChildFile (name).replaceWithText (text);
}

//==============================================================================
std::vector<DirectoryRecord> fileEntries (const PerFormat<PayloadArchive>& payloads)
{
    std::vector<DirectoryRecord> entries;

    for (const auto& payload : payloads)
    {
        std::vector<DirectoryRecord> records;

        if (! readCentralDirectory (payload, records))
        {
            std::fprintf (stderr, "an embedded archive does not read\n");
            std::exit (1);
        }

        for (const auto& r : records)
            if (! r.isDirectory)
                entries.push_back (r);
    }

    return entries;
}

size_t largestEntry (const PerFormat<PayloadArchive>& payloads)
{
    size_t largest = 0;

    for (const auto& e : fileEntries (payloads))
        largest = std::max (largest, (size_t) e.uncompressedSize);

    return largest;
}

/** Median time of the CRC-32 over every file entry's content, the content
    inflated beforehand. */
double crcAloneSeconds (const PerFormat<PayloadArchive>& payloads, int runs)
{
    std::vector<std::vector<juce::uint8>> contents;

    for (const auto& e : fileEntries (payloads))
    {
        contents.emplace_back (e.uncompressedSize);

        if (! e.isDeflated)
        {
            std::copy (e.data, e.data + e.uncompressedSize, contents.back().begin());
            continue;
        }

        inflate_state state;
        isal_inflate_init (&state);
        state.next_in = const_cast<juce::uint8*> (e.data);
        state.avail_in = (juce::uint32) e.compressedSize;
        state.next_out = contents.back().data();
        state.avail_out = (juce::uint32) e.uncompressedSize;

        if (isal_inflate_stateless (&state) != ISAL_DECOMP_OK)
        {
            std::fprintf (stderr, "an embedded entry does not inflate\n");
            std::exit (1);
        }
    }

    std::vector<double> times;

    for (int r = 0; r < runs; ++r)
    {
        juce::uint32 sink = 0;

        times.push_back (timeIt ([&]
        {
            for (const auto& c : contents)
                sink ^= crc32_gzip_refl (0, c.data(), c.size());

            return true;
        }));

        asm volatile ("" :: "r" (sink));   // kept, so the loop is not optimised away
    }

    return median (times);
}

void embeddedTable (const Options& options, const juce::File& base)
{
    const auto payloads = embeddedPayloads();
    size_t totalArchiveBytes = 0;
    std::vector<juce::File> archives;

    for (int k = 0; k < numFormats; ++k)
    {
        const auto& p = payloads[(size_t) k];
        archives.push_back (base.getChildFile (juce::String (formatFileNames[k]) + ".zip"));
        archives.back().replaceWithData (p.data, p.size);
        totalArchiveBytes += p.size;
    }

    std::vector<double> ours, oursSyncfs, juceReference, bsdtar, unzip;
    std::vector<InstallerHooks::Timings> parts, partsSyncfs;
    long anonGrowth = 0;

    for (int r = 0; r < options.runs; ++r)
    {
        const auto runFolder = base.getChildFile ("run" + juce::String (r));

        // Our install: all three formats in one operation, as the INSTALL click runs it.
        const auto install = [&]
        {
            PerFormat<juce::File> folders;

            for (int k = 0; k < numFormats; ++k)
                folders[(size_t) k] = runFolder.getChildFile ("oh").getChildFile (formatFileNames[k]);

            InstallerHooks::Timings timings;
            installerHooks().timings = &timings;

            anonGrowth = std::max (anonGrowth, anonGrowthKb ([&]
            {
                PerFormat<bool> selection { true, true, true };
                ours.push_back (timeIt ([&] { return processSelectedFormats (selection, false, folders, Product::rawName); }));
            }));

            installerHooks().timings = nullptr;
            parts.push_back (timings);
        };

        // JUCE's own extraction over the same memory, for reference (no CRC check).
        const auto juceExtract = [&]
        {
            juceReference.push_back (timeIt ([&]
            {
                for (int k = 0; k < numFormats; ++k)
                {
                    juce::MemoryInputStream in (payloads[(size_t) k].data, payloads[(size_t) k].size, false);
                    juce::ZipFile zip (in);

                    if (zip.uncompressTo (runFolder.getChildFile ("juce").getChildFile (formatFileNames[k]), true).failed())
                        return false;
                }

                return true;
            }));
        };

        // The same install made durable by one syncfs instead of the fsync pass over the staged tree.
        const auto installSyncfs = [&]
        {
            PerFormat<juce::File> folders;

            for (int k = 0; k < numFormats; ++k)
                folders[(size_t) k] = runFolder.getChildFile ("syncfs").getChildFile (formatFileNames[k]);

            InstallerHooks::Timings timings;
            const auto shipped = installerHooks().durability;
            installerHooks().durability = InstallerHooks::Durability::syncFilesystem;
            installerHooks().timings = &timings;
            PerFormat<bool> selection { true, true, true };
            oursSyncfs.push_back (timeIt ([&] { return processSelectedFormats (selection, false, folders, Product::rawName); }));
            installerHooks().timings = nullptr;
            installerHooks().durability = shipped;
            partsSyncfs.push_back (timings);
        };

        // Each run starts with a different contender, so none always goes first.
        const std::function<void()> contenders[] = {
            install, juceExtract,
            [&] { bsdtar.push_back (timeIt ([&] { return extractWith ("bsdtar", archives, runFolder.getChildFile ("bsdtar")); })); },
            [&] { unzip.push_back (timeIt ([&] { return extractWith ("unzip", archives, runFolder.getChildFile ("unzip")); })); },
            installSyncfs
        };

        const auto numContenders = (int) std::size (contenders);

        for (int i = 0; i < numContenders; ++i)
            contenders[(r + i) % numContenders]();

        runFolder.deleteRecursively (false);
    }

    const auto reference = median (bsdtar);
    std::printf ("three embedded archives, %.1f MB in total, %d runs (median seconds, ratio to bsdtar)\n",
                 (double) totalArchiveBytes / 1e6, options.runs);

    std::string csv = "tool,median_s,ratio_to_bsdtar,runs\n";

    for (auto [name, times] : { std::pair { "oh install (as shipped)", &ours },
                                std::pair { "juce uncompressTo (reference)", &juceReference },
                                std::pair { "bsdtar -xf", &bsdtar },
                                std::pair { "unzip -qo", &unzip } })
    {
        std::printf ("  %-32s %7.3f s   x%.2f\n", name, median (*times), median (*times) / reference);
        csv += std::string (name) + "," + std::to_string (median (*times)) + ","
             + std::to_string (median (*times) / reference) + "," + std::to_string (times->size()) + "\n";
    }

    std::printf ("install memory: RssAnon grows by at most %ld kB during an install (archives %zu kB, largest entry %zu kB)\n",
                 anonGrowth, totalArchiveBytes / 1024, largestEntry (payloads) / 1024);
    csv += "oh install RssAnon growth (kB)," + std::to_string (anonGrowth) + ",,\n";
    writeCsv (options, "install.csv", csv);

    // Where the install's time goes: each part's median over the runs.
    const auto partMedian = [&] (auto part)
    {
        std::vector<double> v;

        for (size_t i = 0; i < parts.size(); ++i)
            v.push_back (part (parts[i], ours[i]));

        return median (v);
    };

    const auto total = median (ours);
    std::string breakdown = "part,median_s\n";
    std::printf ("where the install's %.3f s go (median of each part):\n", total);

    using T = InstallerHooks::Timings;
    const std::pair<const char*, std::function<double (const T&, double)>> rows[] = {
        { "inflate with its CRC-32 (ISA-L)", [] (const T& t, double)   { return t.inflate; } },
        { "CRC-32 of stored entries",     [] (const T& t, double)   { return t.crc; } },
        { "write (to the page cache)",    [] (const T& t, double)   { return t.write; } },
        { "sync (staged files, folders, swap)", [] (const T& t, double)   { return t.sync; } },
        { "folder work and the rest",     [] (const T& t, double all) { return all - t.inflate - t.crc - t.write - t.sync; } },
    };

    // The inflate takes the CRC-32 as it goes; what that costs, measured alone.
    const auto crcAlone = crcAloneSeconds (payloads, options.runs);

    for (const auto& [name, part] : rows)
    {
        const auto seconds = partMedian (part);
        std::printf ("  %-36s %7.3f s  %5.1f %%\n", name, seconds, 100.0 * seconds / total);
        breakdown += std::string (name) + "," + std::to_string (seconds) + "\n";

        if (&part == &rows[0].second)
        {
            std::printf ("  %-36s %7.3f s          (the CRC-32 alone over the same content)\n", "  of which CRC-32", crcAlone);
            breakdown += "of which CRC-32 (alone over the same content)," + std::to_string (crcAlone) + "\n";
        }
    }

    // The other sound way to put the staged bundle on the disk, for comparison.
    std::vector<double> syncfsTimes;

    for (const auto& t : partsSyncfs)
        syncfsTimes.push_back (t.sync);

    std::printf ("  %-36s %7.3f s          (not shipped; that install %.3f s)\n",
                 "sync with one syncfs instead", median (syncfsTimes), median (oursSyncfs));
    breakdown += "sync with one syncfs instead," + std::to_string (median (syncfsTimes)) + "\n";

    writeCsv (options, "breakdown.csv", breakdown);

    for (const auto& a : archives)
        a.deleteFile();
}

//==============================================================================
juce::File siblingTool (const char* name)
{
    // The payload tools are built next to the benchmark, in the build tree.
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile)
               .getParentDirectory().getParentDirectory()
               .getChildFile ("tools/payload").getChildFile (name);
}

void scalingRun (const Options& options, const juce::File& base)
{
    const auto generator = siblingTool ("oh_payload_generate");
    const auto packer = siblingTool ("oh_payload_pack");

    if (! generator.existsAsFile() || ! packer.existsAsFile())
    {
        std::fprintf (stderr, "payload tools not found next to the benchmark\n");
        std::exit (1);
    }

    std::printf ("\nscaling: one VST3 product per size, %d runs each (median seconds)\n", options.scalingRuns);
    std::printf ("  %9s %12s %12s %9s %9s %9s %8s %14s %10s %9s\n",
                 "size MiB", "content B", "archive B", "oh s", "bsdtar s", "unzip s", "oh/bsd", "oh RssAnon kB",
                 "oh data s", "oh sync s");

    std::string csv = "size_mib,content_bytes,archive_bytes,largest_entry_bytes,oh_s,bsdtar_s,unzip_s,oh_rssanon_growth_kb,"
                      "oh_data_s,oh_sync_s\n";

    for (const auto sizeMiB : options.sizesMiB)
    {
        const auto folder = base.getChildFile ("product-" + juce::String (sizeMiB));
        const auto bundles = folder.getChildFile ("bundles");
        const auto archive = folder.getChildFile ("vst3.zip");
        const auto bytes = (juce::uint64) sizeMiB << 20;

        if (! run ({ generator.getFullPathName().toStdString(), "--vst3-of-size", std::to_string (bytes),
                     bundles.getFullPathName().toStdString() })
             || ! run ({ packer.getFullPathName().toStdString(), archive.getFullPathName().toStdString(),
                         bundles.getChildFile ("Velquin.vst3").getFullPathName().toStdString() }))
        {
            std::fprintf (stderr, "making the %d MiB product failed\n", sizeMiB);
            std::exit (1);
        }

        juce::uint64 contentBytes = 0, largestEntry = 0;

        for (const auto& f : bundles.findChildFiles (juce::File::findFiles, true))
        {
            contentBytes += (juce::uint64) f.getSize();
            largestEntry = std::max (largestEntry, (juce::uint64) f.getSize());
        }

        bundles.deleteRecursively (false);

        // Read from the mapped archive file, not from the executable.
        juce::MemoryMappedFile mapped (archive, juce::MemoryMappedFile::readOnly);

        if (mapped.getData() == nullptr)
        {
            std::fprintf (stderr, "cannot map %s\n", archive.getFullPathName().toRawUTF8());
            std::exit (1);
        }

        const PerFormat<PayloadArchive> payloads { PayloadArchive { mapped.getData(), mapped.getSize() },
                                                   PayloadArchive {}, PayloadArchive {} };
        std::vector<double> ours, bsdtar, unzip, inflate, sync;
        long anonGrowth = 0;

        for (int r = 0; r < options.scalingRuns; ++r)
        {
            const auto runFolder = folder.getChildFile ("run");

            const std::function<void()> contenders[] = {
                [&]
                {
                    const PerFormat<juce::File> folders { runFolder.getChildFile ("oh"), juce::File(), juce::File() };

                    InstallerHooks::Timings timings;
                    installerHooks().timings = &timings;

                    anonGrowth = std::max (anonGrowth, anonGrowthKb ([&]
                    {
                        PerFormat<bool> selection { true, false, false };
                        ours.push_back (timeIt ([&] { return processSelectedFormats (selection, false, folders, Product::rawName, payloads); }));
                    }));

                    installerHooks().timings = nullptr;
                    inflate.push_back (timings.inflate + timings.crc + timings.write);
                    sync.push_back (timings.sync);
                },
                [&] { bsdtar.push_back (timeIt ([&] { return extractWith ("bsdtar", { archive }, runFolder.getChildFile ("bsdtar")); })); },
                [&] { unzip.push_back (timeIt ([&] { return extractWith ("unzip", { archive }, runFolder.getChildFile ("unzip")); })); }
            };

            for (int i = 0; i < 3; ++i)
            {
                contenders[(r + i) % 3]();
                runFolder.deleteRecursively (false);   // out of the page cache's way before the next one
            }
        }

        const auto archiveBytes = (juce::uint64) archive.getSize();
        std::printf ("  %9d %12llu %12llu %9.3f %9.3f %9.3f %8.2f %14ld %10.3f %9.3f\n",
                     sizeMiB, (unsigned long long) contentBytes, (unsigned long long) archiveBytes,
                     median (ours), median (bsdtar), median (unzip), median (ours) / median (bsdtar), anonGrowth,
                     median (inflate), median (sync));
        std::fflush (stdout);

        csv += std::to_string (sizeMiB) + "," + std::to_string (contentBytes) + "," + std::to_string (archiveBytes) + ","
             + std::to_string (largestEntry) + "," + std::to_string (median (ours)) + "," + std::to_string (median (bsdtar)) + ","
             + std::to_string (median (unzip)) + "," + std::to_string (anonGrowth) + ","
             + std::to_string (median (inflate)) + "," + std::to_string (median (sync)) + "\n";

        folder.deleteRecursively (false);
    }

    writeCsv (options, "scaling.csv", csv);
}

Options parseOptions (int argc, char** argv)
{
    Options options;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::string (argv[++i]) : std::string(); };

        if (arg == "--scaling")
            options.scaling = true;
        else if (arg == "--scaling-runs")
            options.scalingRuns = std::max (1, std::atoi (next().c_str()));
        else if (arg == "--csv-dir")
            options.csvDir = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (next()));
        else if (arg == "--sizes")
        {
            options.sizesMiB.clear();

            for (const auto& s : juce::StringArray::fromTokens (juce::String (next()), ",", ""))
                if (s.getIntValue() > 0)
                    options.sizesMiB.push_back (s.getIntValue());
        }
        else
            options.runs = std::max (1, std::atoi (arg.c_str()));
    }

    return options;
}
} // namespace

int main (int argc, char** argv)
{
    const auto options = parseOptions (argc, argv);
    const auto base = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getNonexistentChildFile ("oh_bench_", "", false);
    base.createDirectory();

    embeddedTable (options, base);

    if (options.scaling)
        scalingRun (options, base);

    base.deleteRecursively (false);
    return 0;
}
