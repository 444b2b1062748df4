#include "OpenLink.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#if __has_include(<linux/close_range.h>)
 #include <linux/close_range.h>
 #include <sys/syscall.h>
#endif

namespace
{
std::optional<std::string> variable (const char* name)
{
    if (const char* value = std::getenv (name))
        return std::string (value);

    return std::nullopt;
}

/** The first xdg-open on our PATH that can be run. */
std::optional<std::string> findXdgOpen()
{
    const auto path = variable ("PATH").value_or ("/usr/local/bin:/usr/bin:/bin");

    for (size_t start = 0; start <= path.size();)
    {
        auto end = path.find (':', start);

        if (end == std::string::npos)
            end = path.size();

        if (end > start && path[start] == '/')
        {
            const auto candidate = path.substr (start, end - start) + "/xdg-open";

            if (access (candidate.c_str(), X_OK) == 0)
                return candidate;
        }

        start = end + 1;
    }

    return std::nullopt;
}

/** In the grandchild: nothing of ours reaches the handler but the three standard
    streams, stdin empty. */
void leaveOurDescriptors()
{
   #ifdef CLOSE_RANGE_CLOEXEC
    if (syscall (SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0)
        return;
   #endif

    for (int fd = 3, last = (int) sysconf (_SC_OPEN_MAX); fd < last && fd < 65536; ++fd)
        fcntl (fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void failInChild (int statusPipe)
{
    const int error = errno;
    [[maybe_unused]] auto n = write (statusPipe, &error, sizeof (error));
    _exit (127);
}

/** Runs program with the link as its one argument, no shell, detached from
    us. Waits only until the program has started or failed to. */
bool launch (const std::string& program, const std::string& link)
{
    char* const arguments[] = { const_cast<char*> (program.c_str()), const_cast<char*> (link.c_str()), nullptr };

    int status[2];

    if (pipe2 (status, O_CLOEXEC) != 0)
        return false;

    const auto child = fork();

    if (child == 0)
    {
        // The grandchild runs the handler; the child leaves at once, so nothing
        // of it is left for us to reap and the handler outlives us freely.
        if (fork() != 0)
            _exit (0);

        setsid();

        sigset_t none;
        sigemptyset (&none);
        sigprocmask (SIG_SETMASK, &none, nullptr);
        signal (SIGPIPE, SIG_DFL);

        leaveOurDescriptors();

        if (const int empty = open ("/dev/null", O_RDONLY | O_CLOEXEC); empty >= 0)
            dup2 (empty, 0);

        execv (arguments[0], arguments);
        failInChild (status[1]);
    }

    close (status[1]);

    if (child < 0)
    {
        close (status[0]);
        return false;
    }

    while (waitpid (child, nullptr, 0) < 0 && errno == EINTR) {}

    // The write end closes when the handler starts; an errno comes when it could not.
    int error = 0;
    ssize_t n;

    while ((n = read (status[0], &error, sizeof (error))) < 0 && errno == EINTR) {}

    close (status[0]);
    return n == 0;
}
} // namespace

LinkOpening openLinkAsDesktopUser (const juce::URL& link)
{
    const auto program = findXdgOpen();
    return program && launch (*program, link.toString (true).toStdString()) ? LinkOpening::started : LinkOpening::failed;
}
