#include "FileOps.h"

#include "PosixCalls.h"
#include "Utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <limits>

namespace PosixCalls
{
namespace
{
int openatCreating (int folder, const char* name, int flags, mode_t mode)
{
    return ::openat (folder, name, flags, mode);
}

constexpr Calls system { ::mkdirat, openatCreating, ::renameat, ::renameat2, ::unlinkat, ::fchmod,
                         ::write, ::futimens, ::fsync, ::syncfs, ::close, ::flock };
} // namespace

Calls current = system;

Calls systemCalls() noexcept
{
    return system;
}
} // namespace PosixCalls

namespace FileOps
{
namespace
{
// Every call that changes the disk goes through the seam.
PosixCalls::Calls& posix = PosixCalls::current;

constexpr mode_t folderMode = 0755;
constexpr mode_t fileMode = 0644;
constexpr mode_t stagingMode = 0700;

/** The mode of a placeholder that claims a name for a rename: owner-only, so
    that nothing we install (0755, 0644) is ever taken for one. */
constexpr mode_t claimMode (bool folder)   { return folder ? 0700 : 0600; }

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int readFlags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;

// A path may pass through this many links, as the kernel allows.
constexpr int maxLinks = 40;

int fd (const Handle& h) noexcept     { return (int) h.native(); }

const char* raw (const Name& name) noexcept { return name.native().c_str(); }

/** A name for one step below a folder: no separators, no "." or "..". */
bool isPlainName (const Name& name)
{
    const auto& n = name.native();
    return ! n.empty() && n != "." && n != ".." && n.find ('/') == std::string::npos && n.find ('\0') == std::string::npos;
}

bool isTrustedOwner (uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

bool onlyPrivilegedCanChange (const struct stat& info, bool stickyIsEnough)
{
    const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool sticky = S_ISDIR (info.st_mode) && (info.st_mode & S_ISVTX) != 0;
    return isTrustedOwner (info.st_uid) && (! othersMayWrite || (stickyIsEnough && sticky));
}

Handle openFolderAt (int parent, const char* name)
{
    return Handle (openat (parent, name, folderFlags));
}

bool removeContents (int folder);

/** Entries this process has deleted, so that a caller can tell "nothing" from "part". */
unsigned long deletions = 0;

/** Deletes one entry below folder: a link or file goes as it is, a folder is
    emptied through its own handle first, unless it lies on another filesystem
    (a mount point): that one and what holds it stay. */
bool removeEntry (int folder, const char* name, dev_t device)
{
    if (posix.unlinkat (folder, name, 0) == 0)
    {
        ++deletions;
        return true;
    }

    if (errno == ENOENT)
        return true;

    if (errno != EISDIR && errno != EPERM)
        return false;

    const Handle child (openat (folder, name, folderFlags));

    if (! child.isValid())
        return errno == ENOENT || ((errno == ELOOP || errno == ENOTDIR) && posix.unlinkat (folder, name, 0) == 0);

    struct stat info;

    if (fstat (fd (child), &info) != 0 || info.st_dev != device)
        return false;

    if (! removeContents (fd (child)))
        return false;

    if (posix.unlinkat (folder, name, AT_REMOVEDIR) != 0)
        return errno == ENOENT;

    ++deletions;
    return true;
}

bool removeContents (int folder)
{
    struct stat info;

    if (fstat (folder, &info) != 0)
        return false;

    const auto names = listNames (Handle (dup (folder)));
    bool ok = true;

    for (const auto& name : names)
        ok = removeEntry (folder, raw (name), info.st_dev) && ok;

    return ok;
}

Rename renameResult (int result)
{
    if (result == 0)
        return Rename::done;

    if (errno == EEXIST || errno == ENOTEMPTY)
        return Rename::exists;

    return errno == EINVAL || errno == ENOSYS ? Rename::unsupported : Rename::failed;
}

/** The identity of the entry at name below folder, or of folder itself for an
    empty name. statx, for the birth time where the filesystem keeps one. */
Identity identityAt (int folder, const char* name)
{
    struct statx info;
    const int flags = AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT | (*name == 0 ? AT_EMPTY_PATH : 0);

    if (statx (folder, name, flags, STATX_INO | STATX_BTIME, &info) != 0 || (info.stx_mask & STATX_INO) == 0)
        return {};

    Identity identity;
    identity.volume = (juce::uint64) makedev (info.stx_dev_major, info.stx_dev_minor);
    identity.object = (juce::uint64) info.stx_ino;
    identity.valid = true;

    if ((info.stx_mask & STATX_BTIME) != 0)
        identity.born = (juce::uint64) info.stx_btime.tv_sec * 1000000000u + info.stx_btime.tv_nsec;

    return identity;
}

/** True when the folder is empty: what we just made, not something swapped in. */
bool isEmptyFolder (int folder)
{
    struct stat info;

    // A folder holding a folder has more than two links; names are counted too.
    return fstat (folder, &info) == 0 && S_ISDIR (info.st_mode) && info.st_nlink <= 2
            && listNames (Handle (dup (folder))).empty();
}

/** Who besides the privileged accounts may rename or delete entries in a folder. */
juce::String othersWhoMayChange (const struct stat& info)
{
    if (! isTrustedOwner (info.st_uid))
    {
        const auto* user = getpwuid (info.st_uid);
        return "user " + (user != nullptr ? juce::String (user->pw_name) : juce::String ((int) info.st_uid));
    }

    if ((info.st_mode & S_IWOTH) != 0)
        return "every user";

    const auto* group = getgrgid (info.st_gid);
    return "group " + (group != nullptr ? juce::String (group->gr_name) : juce::String ((int) info.st_gid));
}

/** Notes the first folder of the path others may change, for the report. */
void noteChangeable (PathReport& report, int folder, const std::string& path)
{
    struct stat info;

    if (! report.changeableByOthers.isEmpty() || fstat (folder, &info) != 0 || onlyPrivilegedCanChange (info, true))
        return;

    report.changeableByOthers = "the folder " + juce::String::fromUTF8 (path.empty() ? "/" : path.c_str())
                                + " can be changed by " + othersWhoMayChange (info) + " (mode "
                                + juce::String::formatted ("%04o", (unsigned) (info.st_mode & 07777))
                                + "); fix its permissions";
}

/** Makes a folder below parent, a folder no one else may change, and puts it
    and its name in parent on the disk. The handle is of the empty folder we made. */
Handle makeDurableFolder (int parent, const char* name)
{
    if (posix.mkdirat (parent, name, folderMode) != 0)
        return {};

    // No one else can rename entries of parent, so the name holds what we made:
    // still, only an empty folder of ours is taken, and its mode fixed through
    // this handle, never through the name.
    auto made = openFolderAt (parent, name);

    if (! made.isValid() || ! isOwnedByUs (made)
         || posix.fchmod (fd (made), folderMode) != 0 || posix.fsync (fd (made)) != 0 || posix.fsync (parent) != 0)
        return {};

    // Another run of ours that found the name taken may have filled it already
    // (two runs making the state folder at once): it is then used as one found
    // there, under the checks for such folders, not as an empty one we made.
    if (! isEmptyFolder (fd (made)))
    {
        errno = EEXIST;
        return {};
    }

    return made;
}

/** Walks path from start, one part at a time (see openTargetFolder). */
Handle walk (Handle current, std::string at, const std::string& path, bool createMissing, PathReport& report, int& linksLeft)
{
    size_t begin = 0;

    while (current.isValid() && begin < path.size())
    {
        auto end = path.find ('/', begin);

        if (end == std::string::npos)
            end = path.size();

        const auto part = path.substr (begin, end - begin);
        begin = end + 1;

        if (part.empty() || part == ".")
            continue;

        const bool holderGuarded = onlyPrivilegedCanChange (current);
        Handle next;

        if (! holderGuarded)
            noteChangeable (report, fd (current), at);

        for (int attempt = 0; attempt < 3 && ! next.isValid(); ++attempt)
        {
            next = openFolderAt (fd (current), part.c_str());

            if (next.isValid())
                break;

            struct stat info;

            if (fstatat (fd (current), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            {
                if (errno != ENOENT)
                    return {};

                if (! createMissing)
                {
                    report.missing = true;
                    return {};
                }

                // Someone else could swap what we make for another folder of theirs or ours.
                if (! holderGuarded)
                    return {};

                // Made by someone else meanwhile: look again at what is there now.
                if ((next = makeDurableFolder (fd (current), part.c_str())).isValid())
                    break;

                if (errno != EEXIST)
                    return {};

                continue;
            }

            if (S_ISLNK (info.st_mode))
            {
                if (! holderGuarded || ! isTrustedOwner (info.st_uid))
                {
                    report.untrustedLink = true;
                    return {};
                }

                if (--linksLeft < 0)
                    return {};

                char target[PATH_MAX];
                const auto length = readlinkat (fd (current), part.c_str(), target, sizeof (target));

                if (length <= 0 || (size_t) length >= sizeof (target))
                    return {};

                const std::string targetPath (target, (size_t) length);
                Handle from (targetPath[0] == '/' ? open ("/", folderFlags) : dup (fd (current)));
                const auto linkBase = targetPath[0] == '/' ? std::string() : at;
                next = walk (std::move (from), linkBase, targetPath, createMissing, report, linksLeft);

                if (! next.isValid())
                    return {};

                break;
            }

            // A file or something else: nothing can lie below it.
            if (! S_ISDIR (info.st_mode))
                report.missing = true;

            return {};
        }

        if (! next.isValid())
            return {};

        report.holdersGuarded = report.holdersGuarded && holderGuarded;
        current = std::move (next);
        at += "/" + part;
    }

    return current;
}
} // namespace

//==============================================================================
Name::Name (const juce::String& text) : value (text.toRawUTF8()) {}

std::optional<juce::String> Name::toText() const
{
    if (value.find ('\0') != std::string::npos || ! isWellFormedUtf8 (value.data(), value.size()))
        return {};

    return juce::String::fromUTF8 (value.data(), (int) value.size());
}

//==============================================================================
bool Handle::close()
{
    if (! isValid())
        return true;

    return posix.close ((int) release()) == 0;
}

//==============================================================================
Handle openTargetFolder (const juce::File& folder, bool createMissing, PathReport* report)
{
    PathReport ignored;
    auto& r = report != nullptr ? *report : ignored;
    r = {};

    const auto path = folder.getFullPathName();

    if (! path.startsWithChar ('/'))
        return {};

    int linksLeft = maxLinks;
    auto target = walk (Handle (open ("/", folderFlags)), {}, path.toStdString(), createMissing, r, linksLeft);

    if (target.isValid())
        noteChangeable (r, fd (target), path.toStdString());

    return target;
}

bool onlyPrivilegedCanChange (const Handle& handle, bool stickyIsEnough)
{
    struct stat info;
    return fstat (fd (handle), &info) == 0 && onlyPrivilegedCanChange (info, stickyIsEnough);
}

Handle openFolder (const Handle& parent, const Name& name)
{
    return isPlainName (name) ? openFolderAt (fd (parent), raw (name)) : Handle();
}

Handle makeFolder (const Handle& parent, const Name& name)
{
    if (! isPlainName (name))
        return {};

    const bool made = posix.mkdirat (fd (parent), raw (name), folderMode) == 0;

    if (! made && errno != EEXIST)
        return {};

    auto folder = openFolderAt (fd (parent), raw (name));

    if (made && folder.isValid() && posix.fchmod (fd (folder), folderMode) != 0)
        return {};

    return folder;
}

Handle createStagingFolder (const Handle& parent, const juce::String& prefix, juce::String& nameOut)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

    // Where someone else could rename entries, the name we make could hold
    // anything by the time we open it.
    if (! onlyPrivilegedCanChange (parent))
        return {};

    for (int attempt = 0; attempt < 100; ++attempt)
    {
        unsigned char random[6];

        if (getrandom (random, sizeof (random), 0) != (ssize_t) sizeof (random))
            return {};

        auto text = prefix;

        for (auto r : random)
            text << alphabet[r % (sizeof (alphabet) - 1)];

        const Name name (text);

        if (posix.mkdirat (fd (parent), raw (name), stagingMode) != 0)
        {
            if (errno == EEXIST)
                continue;

            return {};
        }

        // Another run's leftover cleanup may take the fresh folder before we hold
        // its lock: then it is gone, or locked by that run, and we try another name.
        auto folder = openFolderAt (fd (parent), raw (name));

        if (! folder.isValid())
            continue;

        const auto lock = tryLock (folder);

        if (lock == Lock::failed)
        {
            // Not another run: ours, unlocked, it would stay for good. It goes if it is still ours.
            removeFolder (parent, name, folder);
            return {};
        }

        struct stat info;

        if (lock == Lock::busy || fstat (fd (folder), &info) != 0 || info.st_nlink == 0)
            continue;

        // Ours and empty, as made: then its mode is fixed through the handle.
        if (info.st_uid != geteuid() || ! isEmptyFolder (fd (folder)))
            return {};

        if (posix.fchmod (fd (folder), stagingMode) != 0)
        {
            const auto error = errno;
            removeFolder (parent, name, folder);
            errno = error;
            return {};
        }

        nameOut = text;
        return folder;
    }

    return {};
}

Lock tryLock (const Handle& folder)
{
    if (posix.flock (fd (folder), LOCK_EX | LOCK_NB) == 0)
        return Lock::taken;

    return errno == EWOULDBLOCK ? Lock::busy : Lock::failed;
}

Handle takeLockFile (const Handle& parent, const Name& name, Lock& result)
{
    result = Lock::failed;

    if (! isPlainName (name))
        return {};

    Handle file (posix.openatCreating (fd (parent), raw (name), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    struct stat info;

    // Only a plain file of our own: a lock others can open, they could hold.
    if (! file.isValid() || fstat (fd (file), &info) != 0 || ! S_ISREG (info.st_mode) || info.st_uid != geteuid()
         || (info.st_mode & 077) != 0)
        return {};

    result = tryLock (file);
    return result == Lock::taken ? std::move (file) : Handle();
}

bool isOwnedByUs (const Handle& handle)
{
    struct stat info;
    return fstat (fd (handle), &info) == 0 && info.st_uid == geteuid();
}

bool isOursAlone (const Handle& handle)
{
    struct stat info;
    return fstat (fd (handle), &info) == 0 && info.st_uid == geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Kind kindOf (const Handle& parent, const Name& name, bool* ownedByUs)
{
    struct stat info;

    if (ownedByUs != nullptr)
        *ownedByUs = false;

    if (! isPlainName (name) || fstatat (fd (parent), raw (name), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return isPlainName (name) && errno == ENOENT ? Kind::missing : Kind::other;

    if (ownedByUs != nullptr)
        *ownedByUs = info.st_uid == geteuid();

    if (S_ISDIR (info.st_mode))  return Kind::folder;
    if (S_ISREG (info.st_mode))  return Kind::file;
    if (S_ISLNK (info.st_mode))  return Kind::link;
    return Kind::other;
}

Identity identityOf (const Handle& handle)
{
    return handle.isValid() ? identityAt (fd (handle), "") : Identity();
}

Identity identityOf (const Handle& parent, const Name& name)
{
    return isPlainName (name) ? identityAt (fd (parent), raw (name)) : Identity();
}

juce::String lastingKeyOf (const Identity& identity)
{
    // The device number is left out: it may differ at the next boot (device
    // mapper, NVMe, btrfs and FUSE number their devices as they come). The
    // inode number stays with the object on the disk, and the birth time,
    // where kept, tells it from a later object that reuses the number.
    return juce::String::toHexString ((juce::int64) identity.object)
           + (identity.born != 0 ? "-" + juce::String::toHexString ((juce::int64) identity.born) : juce::String());
}

std::vector<Name> listNames (const Handle& folder)
{
    std::vector<Name> names;

    // The directory stream takes its own descriptor, so the caller's stays open.
    const int copy = dup (fd (folder));

    if (copy < 0)
        return names;

    auto* dir = fdopendir (copy);

    if (dir == nullptr)
    {
        ::close (copy);
        return names;
    }

    rewinddir (dir);

    while (auto* entry = readdir (dir))
    {
        // The bytes as they are: a name is not text until it has been checked.
        std::string name (entry->d_name);

        if (name != "." && name != "..")
            names.push_back (Name::fromNative (std::move (name)));
    }

    closedir (dir);
    return names;
}

//==============================================================================
Handle createFile (const Handle& parent, const Name& name)
{
    if (! isPlainName (name))
        return {};

    // Read and write: a file mapped for writing must be open for both.
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Handle file (posix.openatCreating (fd (parent), raw (name), flags, fileMode));

    if (! file.isValid() && errno == EEXIST)
    {
        // A repeated entry overwrites a file of the same name, never a folder or a link.
        if (kindOf (parent, name) != Kind::file || posix.unlinkat (fd (parent), raw (name), 0) != 0)
            return {};

        file = Handle (posix.openatCreating (fd (parent), raw (name), flags, fileMode));
    }

    if (file.isValid() && posix.fchmod (fd (file), fileMode) != 0)
        return {};

    return file;
}

bool write (const Handle& file, const void* data, size_t size)
{
    const auto* p = static_cast<const char*> (data);

    for (const auto* e = p + size; p < e;)
    {
        const auto w = posix.write (fd (file), p, (size_t) (e - p));

        if (w > 0)
            p += w;
        else if (! (w < 0 && errno == EINTR))
            return false;
    }

    return true;
}

bool setTimes (const Handle& file, juce::Time time)
{
    const auto ms = time.toMilliseconds();
    struct timespec times[2];
    times[0].tv_sec = (time_t) (ms / 1000);
    times[0].tv_nsec = (long) ((ms % 1000) * 1000000);
    times[1] = times[0];
    return posix.futimens (fd (file), times) == 0;
}

void startWriteback (const Handle& file)
{
    sync_file_range (fd (file), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool sync (const Handle& handle)
{
    return posix.fsync (fd (handle)) == 0;
}

bool syncFilesystem (const Handle& handle)
{
    return posix.syncfs (fd (handle)) == 0;
}

//==============================================================================
Rename renameNoReplace (const Handle& fromFolder, const Name& from,
                        const Handle& toFolder, const Name& to)
{
    if (! isPlainName (from) || ! isPlainName (to))
        return Rename::failed;

    const auto result = renameResult (posix.renameat2 (fd (fromFolder), raw (from), fd (toFolder), raw (to), RENAME_NOREPLACE));

    if (result != Rename::unsupported)
        return result;

    // No RENAME_NOREPLACE here. A plain rename replaces a file, or an empty
    // folder, at the destination: so the name is first taken by an empty
    // placeholder of our own, made only where nothing is, and the rename
    // replaces just that.
    struct stat source;

    if (fstatat (fd (fromFolder), raw (from), &source, AT_SYMLINK_NOFOLLOW) != 0)
        return Rename::failed;

    const bool isFolder = S_ISDIR (source.st_mode);

    Identity placeholder;

    if (isFolder)
    {
        if (posix.mkdirat (fd (toFolder), raw (to), claimMode (true)) != 0)
            return errno == EEXIST ? Rename::exists : Rename::failed;

        placeholder = identityOf (toFolder, to);
    }
    else
    {
        // Known by the handle that made it.
        const Handle made (posix.openatCreating (fd (toFolder), raw (to), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, claimMode (false)));

        if (! made.isValid())
            return errno == EEXIST ? Rename::exists : Rename::failed;

        placeholder = identityOf (made);
    }

    if (posix.renameat (fd (fromFolder), raw (from), fd (toFolder), raw (to)) == 0)
        return Rename::done;

    if (identityOf (toFolder, to) == placeholder)
        posix.unlinkat (fd (toFolder), raw (to), isFolder ? AT_REMOVEDIR : 0);

    return Rename::failed;
}

bool isUnusedClaim (const Handle& parent, const Name& name)
{
    struct stat info;

    // Owner-only, whatever the umask took from the claim's mode.
    if (! isPlainName (name) || fstatat (fd (parent), raw (name), &info, AT_SYMLINK_NOFOLLOW) != 0 || info.st_uid != geteuid()
         || (info.st_mode & 077) != 0)
        return false;

    if (S_ISREG (info.st_mode))
        return info.st_size == 0;

    const Handle folder (S_ISDIR (info.st_mode) ? openFolderAt (fd (parent), raw (name)) : Handle());
    return folder.isValid() && listNames (folder).empty();
}

Rename exchange (const Handle& fromFolder, const Name& from,
                 const Handle& toFolder, const Name& to)
{
    if (! isPlainName (from) || ! isPlainName (to))
        return Rename::failed;

    return renameResult (posix.renameat2 (fd (fromFolder), raw (from), fd (toFolder), raw (to), RENAME_EXCHANGE));
}

bool deleteContents (const Handle& folder)
{
    return folder.isValid() && removeContents (fd (folder));
}

bool deleteTree (const Handle& parent, const Name& name)
{
    struct stat info;

    if (! isPlainName (name) || fstat (fd (parent), &info) != 0)
        return false;

    removeEntry (fd (parent), raw (name), info.st_dev);
    return kindOf (parent, name) == Kind::missing;
}

bool deleteWhole (const Handle& parent, const Name& name, bool* keptWhole)
{
    // An open or mapped file never stops a deletion here: what does is a
    // failing disk, maybe after part of it is gone.
    const auto before = deletions;
    const bool deleted = deleteTree (parent, name);

    if (keptWhole != nullptr)
        *keptWhole = ! deleted && deletions == before;

    return deleted;
}

bool markCustomFolder (const Handle&, const Name&)
{
    return true;
}

bool removeFolder (const Handle& parent, const Name& name, Handle& expected)
{
    if (! isPlainName (name) || identityOf (parent, name) != identityOf (expected))
        return false;

    return posix.unlinkat (fd (parent), raw (name), AT_REMOVEDIR) == 0;
}

//==============================================================================
namespace
{
Handle checkedForReading (Handle file)
{
    // Non-blocking, so a pipe or a device under this name cannot hold us up;
    // what it is gets checked on what we opened, not on the name.
    struct stat info;

    if (! file.isValid() || fstat (fd (file), &info) != 0 || ! S_ISREG (info.st_mode))
        return {};

    return file;
}
} // namespace

Handle openForReading (const Handle& parent, const Name& name)
{
    return isPlainName (name) ? checkedForReading (Handle (openat (fd (parent), raw (name), readFlags))) : Handle();
}

Handle openForReading (const juce::File& file)
{
    return checkedForReading (Handle (open (file.getFullPathName().toRawUTF8(), readFlags)));
}

juce::int64 sizeOf (const Handle& file)
{
    struct stat info;
    return fstat (fd (file), &info) == 0 ? (juce::int64) info.st_size : -1;
}

bool readAt (const Handle& file, juce::uint64 offset, void* dest, size_t size)
{
    auto* p = static_cast<char*> (dest);

    while (size > 0)
    {
        if (offset > (juce::uint64) std::numeric_limits<off_t>::max())
            return false;

        const auto n = pread (fd (file), p, size, (off_t) offset);

        if (n < 0 && errno == EINTR)
            continue;

        if (n <= 0)
            return false;

        p += n;
        size -= (size_t) n;
        offset += (juce::uint64) n;
    }

    return true;
}

bool readSmallFile (const Handle& file, size_t maxSize, juce::MemoryBlock& content)
{
    const auto size = sizeOf (file);

    if (! file.isValid() || size < 0 || (juce::uint64) size > maxSize)
        return false;

    // One byte more than allowed tells a file that grew after the check.
    content.setSize (maxSize + 1);
    size_t total = 0;

    for (;;)
    {
        const auto n = read (fd (file), static_cast<char*> (content.getData()) + total, maxSize + 1 - total);

        if (n < 0 && errno == EINTR)
            continue;

        if (n < 0)
            return false;

        if (n == 0)
            break;

        total += (size_t) n;

        if (total > maxSize)
            return false;
    }

    content.setSize (total);
    return true;
}

void deleteOwnPlainFile (const juce::File& file)
{
    // The temporary folder is shared between users: only a plain file of our own goes.
    const auto* path = file.getFullPathName().toRawUTF8();
    struct stat info;

    if (lstat (path, &info) == 0 && S_ISREG (info.st_mode) && info.st_uid == geteuid())
        unlink (path);
}

int deletionsLeftForRestart()
{
    // An open file can always be unlinked here: nothing waits for a restart.
    return 0;
}
} // namespace FileOps
