// What the fault seam below the POSIX file work costs: the same cheap system
// calls made directly and through the table of engine/PosixCalls.h, in turns,
// on a file in the temporary folder. Prints nanoseconds per call of each and
// their difference; fsync is left out, its cost is the disk's.
//
//     oh_bench_seam [calls]     (default 1000000 per kind and run)
#include "PosixCalls.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

template <typename Fn>
double nanosecondsPerCall (long calls, Fn&& fn)
{
    const auto start = Clock::now();

    for (long i = 0; i < calls; ++i)
        fn (i);

    return std::chrono::duration<double, std::nano> (Clock::now() - start).count() / (double) calls;
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main (int argc, char** argv)
{
    const long calls = argc > 1 ? std::atol (argv[1]) : 1000000;
    const char* tmp = std::getenv ("TMPDIR");
    auto path = std::string (tmp != nullptr ? tmp : "/tmp") + "/oh_bench_seam_XXXXXX";
    const int fd = mkstemp (path.data());

    if (fd < 0)
    {
        std::perror ("oh_bench_seam: mkstemp");
        return 1;
    }

    // The seam's table, as the engine reaches it; volatile so that the
    // compiler cannot fold the pointer into a direct call.
    PosixCalls::Calls* volatile table = &PosixCalls::current;
    std::vector<double> direct[2], seam[2];

    for (int run = 0; run < 7; ++run)
    {
        direct[0].push_back (nanosecondsPerCall (calls, [&] (long i) { ::fchmod (fd, (mode_t) (0600 | (i & 1) << 5)); }));
        seam[0].push_back (nanosecondsPerCall (calls, [&] (long i) { table->fchmod (fd, (mode_t) (0600 | (i & 1) << 5)); }));
        direct[1].push_back (nanosecondsPerCall (calls, [&] (long) { ::write (fd, "x", 0); }));
        seam[1].push_back (nanosecondsPerCall (calls, [&] (long) { table->write (fd, "x", 0); }));
    }

    close (fd);
    unlink (path.c_str());

    std::printf ("calls per kind and run: %ld, 7 runs, medians\n", calls);
    std::printf ("%-18s %10s %10s %10s\n", "call", "direct ns", "seam ns", "seam-direct");

    const char* names[] = { "fchmod", "write (0 bytes)" };

    for (int k = 0; k < 2; ++k)
        std::printf ("%-18s %10.1f %10.1f %+10.1f\n", names[k], median (direct[k]), median (seam[k]), median (seam[k]) - median (direct[k]));

    return 0;
}
