// The deploy program's work on the embedded product, in this process over a
// fresh temporary folder each run: a first install of the three formats, an
// install that changes nothing (each bundle checked file by file against its
// archive, under its lock), and status. Prints the median of each and how it
// compares with the first install.
//
//     oh_bench_deploy [runs]     (default 9)
#include "Deployment.h"
#include "RunLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
using Verb = Deployment::Request::Verb;

double seconds (Clock::time_point from)
{
    return std::chrono::duration<double> (Clock::now() - from).count();
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timed
{
    double seconds;
    Deployment::Report report;
};

Timed timedRun (Verb verb, const PerFormat<juce::File>& folders, const juce::File& state)
{
    Deployment::Request request;
    request.verb = verb;
    const auto start = Clock::now();
    auto report = Deployment::run (request, folders, Product::displayName(), state);
    return { seconds (start), std::move (report) };
}
} // namespace

int main (int argc, char** argv)
{
    const int runs = std::max (1, argc > 1 ? std::atoi (argv[1]) : 9);
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});

    std::vector<double> first, unchanged, status;
    const auto payloads = embeddedPayloads();
    size_t bytes = 0;

    for (const auto& p : payloads)
        bytes += p.size;

    for (int i = 0; i < runs; ++i)
    {
        const auto root = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("oh_bench_deploy", {});
        root.createDirectory();
        const PerFormat<juce::File> folders { root.getChildFile ("VST3"), root.getChildFile ("CLAP"), root.getChildFile ("AAX") };
        const auto state = root.getChildFile ("state");

        const auto install = timedRun (Verb::install, folders, state);
        const auto again = timedRun (Verb::install, folders, state);
        const auto look = timedRun (Verb::status, folders, state);
        root.deleteRecursively();

        for (int k = 0; k < numFormats; ++k)
        {
            const auto& a = install.report.formats[(size_t) k];
            const auto& b = again.report.formats[(size_t) k];

            if (a.action != Deployment::Action::install || ! a.after.intact || b.action != Deployment::Action::none
                 || ! look.report.formats[(size_t) k].before.intact)
            {
                std::fprintf (stderr, "oh_bench_deploy: run %d, %s did not install, or did not stay intact\n", i, formatNames[k].toRawUTF8());
                return 1;
            }
        }

        first.push_back (install.seconds);
        unchanged.push_back (again.seconds);
        status.push_back (look.seconds);
    }

    const auto f = median (first), u = median (unchanged), s = median (status);
    std::printf ("deploy program, three embedded formats (%.1f MB of archives), %d runs (median seconds, ratio to a first install)\n",
                 (double) bytes / 1e6, runs);
    std::printf ("  first install                      %.3f s   x%.2f\n", f, 1.0);
    std::printf ("  install that changes nothing       %.3f s   x%.2f   (every file's size and CRC-32 checked)\n", u, u / f);
    std::printf ("  status                             %.3f s   x%.2f\n", s, s / f);
    return 0;
}
