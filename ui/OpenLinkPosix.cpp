#include "OpenLink.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if __has_include(<linux/close_range.h>)
 #include <linux/close_range.h>
 #include <sys/syscall.h>
#endif

namespace
{
/** Who the handler runs as, and everything the child needs, made before the
    fork: after it, in a process with threads, only plain system calls are safe. */
struct Identity
{
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string home;
    std::vector<std::string> environment;
};

/** What a variable names: nobody (unset, or root), a user, or nothing usable. */
enum class Naming { nobody, user, unusable };

Naming parseUid (const char* text, uid_t& uid)
{
    if (text == nullptr)
        return Naming::nobody;

    errno = 0;
    char* end = nullptr;
    const auto value = std::strtoul (text, &end, 10);

    if (*text < '0' || *text > '9' || end == text || *end != 0 || errno != 0 || value > 0xfffffffeul)
        return Naming::unusable;

    uid = (uid_t) value;
    return uid == 0 ? Naming::nobody : Naming::user;
}

std::optional<std::string> variable (const char* name)
{
    if (const char* value = std::getenv (name))
        return std::string (value);

    return std::nullopt;
}

/** The user's own session: their runtime folder and the bus in it, where the
    system made them for that user. */
void addSessionOf (uid_t uid, std::vector<std::string>& environment)
{
    const auto runtime = "/run/user/" + std::to_string (uid);
    struct stat info;

    if (lstat (runtime.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode) || info.st_uid != uid)
        return;

    environment.push_back ("XDG_RUNTIME_DIR=" + runtime);

    const auto bus = runtime + "/bus";

    if (lstat (bus.c_str(), &info) == 0 && S_ISSOCK (info.st_mode) && info.st_uid == uid)
        environment.push_back ("DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus);
}

/** A fresh environment: who the user is, their session, and from ours only
    what shows the display and speaks the language. Nothing else of root's. */
std::vector<std::string> environmentFor (const passwd& user)
{
    std::vector<std::string> environment {
        std::string ("HOME=") + user.pw_dir,
        std::string ("USER=") + user.pw_name,
        std::string ("LOGNAME=") + user.pw_name,
        "PATH=" + variable ("PATH").value_or ("/usr/local/bin:/usr/bin:/bin"),
    };

    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP",
                              "XDG_SESSION_TYPE", "DESKTOP_SESSION", "LANG", "LANGUAGE", "LC_ALL",
                              "LC_CTYPE", "LC_MESSAGES" })
        if (const auto value = variable (name))
            environment.push_back (std::string (name) + "=" + *value);

    addSessionOf (user.pw_uid, environment);
    return environment;
}

/** The user's name entry, with its groups. False when the system knows no such user. */
bool identityOf (uid_t uid, Identity& identity)
{
    passwd entry {};
    passwd* found = nullptr;
    std::vector<char> buffer (16384);

    if (getpwuid_r (uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr
         || entry.pw_dir == nullptr || entry.pw_dir[0] != '/')
        return false;

    identity.uid = entry.pw_uid;
    identity.gid = entry.pw_gid;
    identity.home = entry.pw_dir;

    int count = 64;
    identity.groups.resize ((size_t) count);

    if (getgrouplist (entry.pw_name, entry.pw_gid, identity.groups.data(), &count) < 0)
    {
        identity.groups.resize ((size_t) count);

        if (getgrouplist (entry.pw_name, entry.pw_gid, identity.groups.data(), &count) < 0)
            return false;
    }

    identity.groups.resize ((size_t) count);
    identity.environment = environmentFor (entry);
    return true;
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

/** Runs program with the link as its one argument, detached from us: as the
    user in identity when given, else as ourselves with our environment.
    Waits only until the program has started or failed to. */
bool launch (const std::string& program, const std::string& link, const Identity* identity)
{
    std::vector<char*> environment;

    if (identity != nullptr)
    {
        for (auto& entry : identity->environment)
            environment.push_back (const_cast<char*> (entry.c_str()));

        environment.push_back (nullptr);
    }

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

        if (identity != nullptr)
        {
            if (setgroups (identity->groups.size(), identity->groups.data()) != 0
                 || setresgid (identity->gid, identity->gid, identity->gid) != 0
                 || setresuid (identity->uid, identity->uid, identity->uid) != 0)
                failInChild (status[1]);

            // Root must be gone for good.
            if (setresuid (0, 0, 0) == 0)
            {
                errno = EPERM;
                failInChild (status[1]);
            }

            if (chdir (identity->home.c_str()) != 0 && chdir ("/") != 0)
                failInChild (status[1]);

            execve (arguments[0], arguments, environment.data());
        }
        else
        {
            execv (arguments[0], arguments);
        }

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

bool openLinkAsDesktopUser (const juce::URL& link)
{
    const auto text = link.toString (true).toStdString();

    if (geteuid() != 0)
    {
        const auto program = findXdgOpen();
        return program && launch (*program, text, nullptr);
    }

    uid_t uid = 0;
    auto naming = parseUid (std::getenv ("PKEXEC_UID"), uid);

    if (naming == Naming::nobody && std::getenv ("PKEXEC_UID") == nullptr)
        naming = parseUid (std::getenv ("SUDO_UID"), uid);

    // Root started us as root: nobody else to open it for.
    if (naming == Naming::nobody)
        return link.launchInDefaultBrowser();

    Identity identity;

    if (naming == Naming::unusable || ! identityOf (uid, identity))
        return false;

    const auto program = findXdgOpen();
    return program && launch (*program, text, &identity);
}
