#include "ChildProcess.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

std::string inChild (const std::function<std::string()>& fn, unsigned timeoutSeconds)
{
    int fds[2];

    if (pipe (fds) != 0)
        return "pipe failed";

    const auto pid = fork();

    if (pid == 0)
    {
        close (fds[0]);
        alarm (timeoutSeconds);   // a hang fails the case, not the whole run
        const auto message = fn();
        [[maybe_unused]] auto n = write (fds[1], message.data(), message.size());
        close (fds[1]);
        _exit (0);
    }

    close (fds[1]);
    std::string message;
    char buffer[256];

    for (ssize_t n; (n = read (fds[0], buffer, sizeof (buffer))) > 0;)
        message.append (buffer, (size_t) n);

    close (fds[0]);
    int status = 0;
    waitpid (pid, &status, 0);

    if (WIFSIGNALED (status) && WTERMSIG (status) == SIGALRM)
        return "child hung for " + std::to_string (timeoutSeconds) + " s: " + message;

    if (! WIFEXITED (status) || WEXITSTATUS (status) != 0)
        return "child died: " + message;

    return message;
}

std::string enterPrivateMounts()
{
    if (unshare (CLONE_NEWNS) != 0)
        return "skip: unshare (CLONE_NEWNS) failed; private mounts need root";

    if (mount (nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "skip: could not make / private";

    return {};
}

std::string enterPrivateTmpfs (const char* path, const char* size)
{
    if (auto failure = enterPrivateMounts(); ! failure.empty())
        return failure;

    const auto options = std::string ("size=") + size + ",mode=0755";

    if (mount ("tmpfs", path, "tmpfs", 0, options.c_str()) != 0)
        return std::string ("skip: could not mount a tmpfs of ") + size;

    return {};
}
