#pragma once

// The system calls below the POSIX file work that change the disk: every one
// that writes, syncs, renames, creates, deletes, changes a mode or a time, or
// takes a lock. POSIX-only, engine-internal. The table starts out holding the
// system's own functions (constant data, set before the program runs) and the
// program never changes it; tests swap entries to count the calls and to make
// one of them fail the way a failing disk does. A call through it costs one
// load and one indirect call, against a system call's hundreds of nanoseconds
// (bench/seam_bench.cpp measures both).

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

namespace PosixCalls
{
struct Calls
{
    int (*mkdirat) (int folder, const char* name, mode_t mode);

    /** openat with O_CREAT: the opens that may make a file. */
    int (*openatCreating) (int folder, const char* name, int flags, mode_t mode);

    int (*renameat) (int fromFolder, const char* from, int toFolder, const char* to);
    int (*renameat2) (int fromFolder, const char* from, int toFolder, const char* to, unsigned flags);
    int (*unlinkat) (int folder, const char* name, int flags);
    int (*fchmod) (int fd, mode_t mode);
    ssize_t (*write) (int fd, const void* data, size_t size);
    int (*futimens) (int fd, const struct timespec times[2]);
    int (*fsync) (int fd);
    int (*syncfs) (int fd);
    int (*close) (int fd);
    int (*flock) (int fd, int operation);
};

/** The calls in force: the system's own unless a test has swapped some. */
extern Calls current;

/** The system's own calls, to put back. */
Calls systemCalls() noexcept;
} // namespace PosixCalls
