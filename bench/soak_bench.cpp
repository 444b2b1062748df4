// Installs and uninstalls the three embedded formats over and over in one
// process, and prints what a long-running installer must not accumulate: open
// descriptors, anonymous resident memory (RssAnon) and entries left in the
// target folders. The figures at the end must equal those after the first
// cycle (memory within the allocator's noise).
//
//     oh_bench_soak [cycles]     (default 1000)
#include "Installer.h"
#include "ProcStatus.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>

namespace
{
/** Entries of a folder, hidden ones included; -1 when it cannot be listed. */
int countEntries (const char* path)
{
    auto* dir = opendir (path);

    if (dir == nullptr)
        return -1;

    int n = 0;

    while (auto* e = readdir (dir))
        if (std::string (e->d_name) != "." && std::string (e->d_name) != "..")
            ++n;

    closedir (dir);
    return n;
}

struct Sample
{
    int descriptors = 0;
    long rssAnonKb = 0;
    int leftovers = 0;
};

Sample sample (const PerFormat<juce::File>& folders)
{
    Sample s;
    s.descriptors = countEntries ("/proc/self/fd") - 1;   // less the one listing it
    s.rssAnonKb = statusKb ("RssAnon");

    for (auto& f : folders)
        s.leftovers += std::max (0, countEntries (f.getFullPathName().toRawUTF8()));

    return s;
}

void print (const char* when, int cycle, const Sample& s)
{
    std::printf ("%-12s %7d %12d %14ld %10d\n", when, cycle, s.descriptors, s.rssAnonKb, s.leftovers);
    std::fflush (stdout);
}
}

int main (int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi (argv[1]) : 1000;

    if (cycles < 1)
    {
        std::fprintf (stderr, "usage: oh_bench_soak [cycles >= 1]\n");
        return 2;
    }

    const auto root = juce::File::createTempFile ("oh_soak");
    const PerFormat<juce::File> folders { root.getChildFile ("VST3"), root.getChildFile ("CLAP"), root.getChildFile ("AAX") };

    for (auto& f : folders)
        if (! f.createDirectory())
            return 1;

    const auto cycle = [&folders]
    {
        PerFormat<bool> selection { true, true, true };

        if (! processSelectedFormats (selection, false, folders, "Velquin"))
            return false;

        for (int k = 0; k < numFormats; ++k)
            if (! isBundlePresent (folders[(size_t) k], "Velquin", k))
                return false;

        selection.fill (true);
        return processSelectedFormats (selection, true, folders, "Velquin");
    };

    std::printf ("%d install + uninstall cycles of VST3, CLAP and AAX in %s\n\n", cycles, root.getFullPathName().toRawUTF8());
    std::printf ("%-12s %7s %12s %14s %10s\n", "", "cycle", "descriptors", "RssAnon (kB)", "leftovers");

    const auto start = sample (folders);
    print ("start", 0, start);

    const auto begun = std::chrono::steady_clock::now();
    Sample afterFirst, last;
    int failures = 0;

    for (int i = 1; i <= cycles; ++i)
    {
        if (! cycle())
            ++failures;

        if (i == 1 || i % 100 == 0 || i == cycles)
        {
            last = sample (folders);
            print (i == 1 ? "first cycle" : i == cycles ? "end" : "", i, last);

            if (i == 1)
                afterFirst = last;
        }
    }

    const auto seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - begun).count();
    root.deleteRecursively (false);

    std::printf ("\n%d cycles in %.1f s (%.0f ms each), %d failed\n", cycles, seconds, 1000.0 * seconds / cycles, failures);
    std::printf ("from the first cycle to the end: descriptors %+d, RssAnon %+ld kB, leftovers %+d\n",
                 last.descriptors - afterFirst.descriptors, last.rssAnonKb - afterFirst.rssAnonKb, last.leftovers - afterFirst.leftovers);

    return failures == 0 ? 0 : 1;
}
