#pragma once

#include <functional>
#include <string>
#include <vector>

/** Watches the calls that change the disk (engine/PosixCalls.h) while it
    lives: records each one, in order, and can make one of them fail with a
    chosen errno, as a failing disk would. POSIX only; one at a time. */
class FaultInjection
{
public:
    FaultInjection();
    ~FaultInjection();

    struct Call
    {
        std::string function;   ///< "fsync", "renameat2", ...
        std::string path;       ///< the name it was given, or the path of its descriptor; random run suffixes as "*"
        int error = 0;          ///< the errno it returned (0: it succeeded; lost: see failAt)
        int fd = -1;            ///< write, fsync, close: the descriptor
    };

    /** For failAt: the call answers success without reaching the system, as a
        disk that acknowledges a change and loses it; what a later lookup finds
        is then not what the caller was told. */
    static constexpr int lost = -1;

    /** Call n (counted from 0) fails with this errno, without reaching the system. */
    void failAt (size_t n, int error);

    /** Every renameat2 given flags fails with EINVAL, as on a filesystem that
        takes none (its calls are still counted and may be failed otherwise). */
    void withoutRenameFlags()                         { renameFlagsUnsupported = true; }

    /** Called just before each rename without flags reaches the system, with
        its destination: another process may act on that name then. */
    std::function<void (int toFolder, const char* to)> beforePlainRename;

    const std::vector<Call>& calls() const noexcept   { return recorded; }

    /** True once the chosen call has been failed. */
    bool injected() const noexcept                    { return didInject; }

    static std::string describe (const Call&);

private:
    friend struct FaultSeamAccess;
    std::vector<Call> recorded;
    size_t failIndex = (size_t) -1;
    int failError = 0;
    bool didInject = false;
    bool renameFlagsUnsupported = false;

    FaultInjection (const FaultInjection&) = delete;
    FaultInjection& operator= (const FaultInjection&) = delete;
};
