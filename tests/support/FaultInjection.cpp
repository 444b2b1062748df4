#include "FaultInjection.h"

#include "PosixCalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace
{
FaultInjection* active = nullptr;

std::string pathOf (int fd)
{
    char link[64], target[4096];
    std::snprintf (link, sizeof (link), "/proc/self/fd/%d", fd);
    const auto n = readlink (link, target, sizeof (target));
    return n > 0 ? std::string (target, (size_t) n) : "fd " + std::to_string (fd);
}

/** The folder's path and the name below it. */
std::string pathAt (int folder, const char* name)
{
    return pathOf (folder) + "/" + name;
}

/** A run's random staging suffix would make every run's calls differ. */
std::string withoutRandomSuffix (std::string path)
{
    static const std::string marker = ".oh-staging-";

    for (auto at = path.find (marker); at != std::string::npos; at = path.find (marker, at + 1))
        for (size_t i = at + marker.size(); i < path.size() && i < at + marker.size() + 6; ++i)
            path[i] = '*';

    return path;
}
} // namespace

/** Records one call and decides whether it fails; the wrappers below share it. */
struct FaultSeamAccess
{
    /** Nonzero: fail with this errno instead of calling the system. */
    static int next (const char* function, const std::string& path, int fd)
    {
        auto& f = *active;
        const auto index = f.recorded.size();
        f.recorded.push_back ({ function, withoutRandomSuffix (path), 0, fd });

        if (index != f.failIndex)
            return 0;

        f.didInject = true;
        f.recorded.back().error = f.failError;
        return f.failError;
    }

    static bool renameFlagsUnsupported()   { return active->renameFlagsUnsupported; }
    static const auto& beforePlainRename() { return active->beforePlainRename; }

    static void result (long r)
    {
        if (r < 0 && active->recorded.back().error == 0)
            active->recorded.back().error = errno;
    }

    template <typename Result, typename Call>
    static Result run (const char* function, const std::string& path, Call&& call, int fd = -1)
    {
        if (const auto error = next (function, path, fd))
        {
            if (error == FaultInjection::lost)
                return (Result) 0;

            errno = error;
            return (Result) -1;
        }

        const auto r = call();
        const auto saved = errno;
        result ((long) r);
        errno = saved;
        return r;
    }
};

namespace
{
const PosixCalls::Calls real = PosixCalls::systemCalls();

using S = FaultSeamAccess;

/** Descriptors written through the seam and not yet closed. */
std::set<int> written;

int watchedMkdirat (int d, const char* n, mode_t m)
{
    return S::run<int> ("mkdirat", pathAt (d, n), [&] { return real.mkdirat (d, n, m); });
}

int watchedOpenatCreating (int d, const char* n, int flags, mode_t m)
{
    return S::run<int> ("openat", pathAt (d, n), [&] { return real.openatCreating (d, n, flags, m); });
}

int watchedRenameat (int fd, const char* f, int td, const char* t)
{
    return S::run<int> ("renameat", pathAt (fd, f) + " -> " + pathAt (td, t), [&]
    {
        if (const auto& before = S::beforePlainRename())
            before (td, t);

        return real.renameat (fd, f, td, t);
    });
}

int watchedRenameat2 (int fd, const char* f, int td, const char* t, unsigned flags)
{
    return S::run<int> ("renameat2", pathAt (fd, f) + " -> " + pathAt (td, t), [&]
    {
        if (flags != 0 && S::renameFlagsUnsupported())
        {
            errno = EINVAL;
            return -1;
        }

        return real.renameat2 (fd, f, td, t, flags);
    });
}

int watchedUnlinkat (int d, const char* n, int flags)
{
    return S::run<int> ("unlinkat", pathAt (d, n), [&] { return real.unlinkat (d, n, flags); });
}

int watchedFchmod (int fd, mode_t m)
{
    return S::run<int> ("fchmod", pathOf (fd), [&] { return real.fchmod (fd, m); });
}

ssize_t watchedWrite (int fd, const void* data, size_t size)
{
    written.insert (fd);
    return S::run<ssize_t> ("write", pathOf (fd), [&] { return real.write (fd, data, size); }, fd);
}

int watchedFutimens (int fd, const struct timespec times[2])
{
    return S::run<int> ("futimens", pathOf (fd), [&] { return real.futimens (fd, times); });
}

int watchedFsync (int fd)
{
    return S::run<int> ("fsync", pathOf (fd), [&] { return real.fsync (fd); }, fd);
}

int watchedSyncfs (int fd)
{
    return S::run<int> ("syncfs", pathOf (fd), [&] { return real.syncfs (fd); });
}

int watchedClose (int fd)
{
    // Only the close of something written can lose data; a folder's, a
    // reader's or a lock's close is not a point at which the disk can fail us.
    if (written.erase (fd) == 0)
        return real.close (fd);

    // A failed close still frees the descriptor, as Linux's does.
    const auto path = pathOf (fd);
    const auto result = real.close (fd);
    return S::run<int> ("close", path, [&] { return result; }, fd);
}

int watchedFlock (int fd, int operation)
{
    return S::run<int> ("flock", pathOf (fd), [&] { return real.flock (fd, operation); });
}
} // namespace

FaultInjection::FaultInjection()
{
    active = this;
    PosixCalls::current = { watchedMkdirat, watchedOpenatCreating, watchedRenameat, watchedRenameat2, watchedUnlinkat,
                            watchedFchmod, watchedWrite, watchedFutimens, watchedFsync, watchedSyncfs, watchedClose,
                            watchedFlock };
}

FaultInjection::~FaultInjection()
{
    written.clear();
    PosixCalls::current = real;
    active = nullptr;
}

void FaultInjection::failAt (size_t n, int error)
{
    failIndex = n;
    failError = error;
}

std::string FaultInjection::describe (const Call& call)
{
    return call.function + " (" + call.path + ")"
           + (call.error == lost ? std::string (": lost") : call.error != 0 ? std::string (": ") + strerrorname_np (call.error) : "");
}
