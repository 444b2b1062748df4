// Installs the three embedded formats into fresh folders several times and, in
// the same run, extracts the same archives with bsdtar and unzip. Prints the
// median of each, the ratio to bsdtar, and the install's anonymous memory.
#include "Installer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

/** A field of /proc/self/status in kB, or -1. */
long statusKb (const char* field)
{
    std::ifstream status ("/proc/self/status");
    std::string line;
    const std::string key = std::string (field) + ":";

    while (std::getline (status, line))
        if (line.compare (0, key.size(), key) == 0)
            return std::stol (line.substr (key.size()));

    return -1;
}

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
} // namespace

int main (int argc, char** argv)
{
    const int runs = argc > 1 ? std::max (1, std::atoi (argv[1])) : 5;
    const auto payloads = embeddedPayloads();
    const char* names[] = { "vst3", "clap", "aax" };

    const auto base = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getNonexistentChildFile ("oh_bench_", "", false);
    base.createDirectory();

    size_t totalArchiveBytes = 0;
    std::vector<juce::File> archives;

    for (int k = 0; k < numFormats; ++k)
    {
        const auto& p = payloads[(size_t) k];
        archives.push_back (base.getChildFile (juce::String (names[k]) + ".zip"));
        archives.back().replaceWithData (p.data, p.size);
        totalArchiveBytes += p.size;
    }

    std::vector<double> ours, juceReference, bsdtar, unzip;
    long baselineAnon = -1, peakAnon = -1;

    for (int r = 0; r < runs; ++r)
    {
        const auto runFolder = base.getChildFile ("run" + juce::String (r));

        // Our install: all three formats in one operation.
        const auto install = [&]
        {
            PerFormat<juce::File> folders;

            for (int k = 0; k < numFormats; ++k)
                folders[(size_t) k] = runFolder.getChildFile ("oh").getChildFile (names[k]);

            PerFormat<bool> selection { true, true, true };

            // Sample anonymous memory from a side thread while the install runs.
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

            ours.push_back (timeIt ([&] { return processSelectedFormats (selection, false, folders, Product::rawName); }));
            done = true;
            sampler.join();

            baselineAnon = baselineAnon < 0 ? before : std::min (baselineAnon, before);
            peakAnon = std::max (peakAnon, peak.load());
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

                    if (zip.uncompressTo (runFolder.getChildFile ("juce").getChildFile (names[k]), true).failed())
                        return false;
                }

                return true;
            }));
        };

        const auto tool = [&] (std::vector<double>& times, const char* name, const char* folderOption)
        {
            times.push_back (timeIt ([&]
            {
                for (int k = 0; k < numFormats; ++k)
                {
                    const auto dest = runFolder.getChildFile (name).getChildFile (names[k]);
                    dest.createDirectory();

                    if (! run ({ name, std::string (name) == "unzip" ? "-qo" : "-xf",
                                 archives[(size_t) k].getFullPathName().toStdString(),
                                 folderOption, dest.getFullPathName().toStdString() }))
                        return false;
                }

                return true;
            }));
        };

        // Each run starts with a different contender, so none always goes first.
        const std::function<void()> contenders[] = { install, juceExtract,
                                                     [&] { tool (bsdtar, "bsdtar", "-C"); },
                                                     [&] { tool (unzip, "unzip", "-d"); } };

        for (int i = 0; i < 4; ++i)
            contenders[(r + i) % 4]();

        runFolder.deleteRecursively (false);
    }

    const auto reference = median (bsdtar);
    std::printf ("three archives, %.1f MB in total, %d runs (median seconds, ratio to bsdtar)\n",
                 (double) totalArchiveBytes / 1e6, runs);

    for (auto [name, times] : { std::pair { "oh install (checks CRC)", &ours },
                                std::pair { "juce uncompressTo (reference)", &juceReference },
                                std::pair { "bsdtar -xf", &bsdtar },
                                std::pair { "unzip -qo", &unzip } })
        std::printf ("  %-30s %7.3f s   x%.2f\n", name, median (*times), median (*times) / reference);

    std::printf ("install memory: RssAnon %ld kB before, peak %ld kB during (growth %ld kB; archives %zu kB); VmHWM %ld kB\n",
                 baselineAnon, peakAnon, peakAnon - baselineAnon, totalArchiveBytes / 1024, statusKb ("VmHWM"));

    base.deleteRecursively (false);
    return 0;
}
