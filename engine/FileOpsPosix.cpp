#include "FileOps.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace FileOps
{
namespace
{
constexpr mode_t folderMode = 0755;
constexpr mode_t fileMode = 0644;
constexpr mode_t stagingMode = 0700;

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int fd (const Handle& h) noexcept     { return (int) h.native(); }

const char* raw (const juce::String& name) { return name.toRawUTF8(); }

/** A name for one step below a folder: no separators, no "." or "..". */
bool isPlainName (const juce::String& name)
{
    return name.isNotEmpty() && name != "." && name != ".." && ! name.containsChar ('/') && ! name.containsChar (0);
}

Handle openFolderAt (int parent, const char* name)
{
    return Handle (openat (parent, name, folderFlags));
}

bool removeContents (int folder);

/** Deletes one entry below folder: a link or file goes as it is, a folder is
    emptied through its own handle first. */
bool removeEntry (int folder, const char* name)
{
    if (unlinkat (folder, name, 0) == 0 || errno == ENOENT)
        return true;

    if (errno != EISDIR && errno != EPERM)
        return false;

    const Handle child (openat (folder, name, folderFlags));

    if (! child.isValid())
        return errno == ENOENT || ((errno == ELOOP || errno == ENOTDIR) && unlinkat (folder, name, 0) == 0);

    if (! removeContents (fd (child)))
        return false;

    return unlinkat (folder, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

bool removeContents (int folder)
{
    const auto names = listNames (Handle (dup (folder)));
    bool ok = true;

    for (const auto& name : names)
        ok = removeEntry (folder, raw (name)) && ok;

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
} // namespace

//==============================================================================
bool Handle::close()
{
    if (! isValid())
        return true;

    return ::close ((int) release()) == 0;
}

//==============================================================================
Handle openTargetFolder (const juce::File& folder, bool createMissing)
{
    const auto path = folder.getFullPathName();

    if (! path.startsWithChar ('/'))
        return {};

    Handle current (open ("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));

    for (const auto& part : juce::StringArray::fromTokens (path, "/", {}))
    {
        if (part.isEmpty() || ! current.isValid())
            continue;

        // Existing parts are followed, links included: the configured path is trusted.
        Handle next (openat (fd (current), raw (part), O_RDONLY | O_DIRECTORY | O_CLOEXEC));

        if (! next.isValid() && errno == ENOENT && createMissing)
        {
            if (mkdirat (fd (current), raw (part), folderMode) == 0)
            {
                // Fix the mode on the folder we made, not on whatever the name points to by now.
                next = openFolderAt (fd (current), raw (part));

                if (next.isValid() && (! isOwnedByUs (next) || fchmod (fd (next), folderMode) != 0))
                    next = Handle();
            }
            else if (errno == EEXIST)
            {
                next = Handle (openat (fd (current), raw (part), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            }
        }

        current = std::move (next);
    }

    return current;
}

Handle openFolder (const Handle& parent, const juce::String& name)
{
    return isPlainName (name) ? openFolderAt (fd (parent), raw (name)) : Handle();
}

Handle makeFolder (const Handle& parent, const juce::String& name)
{
    if (! isPlainName (name))
        return {};

    const bool made = mkdirat (fd (parent), raw (name), folderMode) == 0;

    if (! made && errno != EEXIST)
        return {};

    auto folder = openFolderAt (fd (parent), raw (name));

    if (made && folder.isValid() && fchmod (fd (folder), folderMode) != 0)
        return {};

    return folder;
}

Handle createStagingFolder (const Handle& parent, const juce::String& prefix, juce::String& nameOut)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

    for (int attempt = 0; attempt < 100; ++attempt)
    {
        unsigned char random[6];

        if (getrandom (random, sizeof (random), 0) != (ssize_t) sizeof (random))
            return {};

        auto name = prefix;

        for (auto r : random)
            name << alphabet[r % (sizeof (alphabet) - 1)];

        if (mkdirat (fd (parent), raw (name), stagingMode) != 0)
        {
            if (errno == EEXIST)
                continue;

            return {};
        }

        // Another run's leftover cleanup may take the fresh folder before we hold
        // its lock: then it is gone, or locked by that run, and we try another name.
        auto folder = openFolderAt (fd (parent), raw (name));
        struct stat info;

        if (! folder.isValid() || ! tryLock (folder) || fstat (fd (folder), &info) != 0 || info.st_nlink == 0)
            continue;

        if (info.st_uid != geteuid() || fchmod (fd (folder), stagingMode) != 0)
            return {};

        nameOut = name;
        return folder;
    }

    return {};
}

bool tryLock (const Handle& folder)
{
    return flock (fd (folder), LOCK_EX | LOCK_NB) == 0;
}

bool isOwnedByUs (const Handle& handle)
{
    struct stat info;
    return fstat (fd (handle), &info) == 0 && info.st_uid == geteuid();
}

Kind kindOf (const Handle& parent, const juce::String& name, bool* ownedByUs)
{
    struct stat info;

    if (ownedByUs != nullptr)
        *ownedByUs = false;

    if (! isPlainName (name) || fstatat (fd (parent), raw (name), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Kind::missing : Kind::other;

    if (ownedByUs != nullptr)
        *ownedByUs = info.st_uid == geteuid();

    if (S_ISDIR (info.st_mode))  return Kind::folder;
    if (S_ISREG (info.st_mode))  return Kind::file;
    if (S_ISLNK (info.st_mode))  return Kind::link;
    return Kind::other;
}

Kind kindOf (const juce::File& path)
{
    struct stat info;

    if (lstat (path.getFullPathName().toRawUTF8(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Kind::missing : Kind::other;

    if (S_ISDIR (info.st_mode))  return Kind::folder;
    if (S_ISREG (info.st_mode))  return Kind::file;
    if (S_ISLNK (info.st_mode))  return Kind::link;
    return Kind::other;
}

juce::StringArray listNames (const Handle& folder)
{
    juce::StringArray names;

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
        const auto name = juce::String::fromUTF8 (entry->d_name);

        if (name != "." && name != "..")
            names.add (name);
    }

    closedir (dir);
    return names;
}

//==============================================================================
Handle createFile (const Handle& parent, const juce::String& name)
{
    if (! isPlainName (name))
        return {};

    // Read and write: a file mapped for writing must be open for both.
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    Handle file (openat (fd (parent), raw (name), flags, fileMode));

    if (! file.isValid() && errno == EEXIST)
    {
        // A repeated entry overwrites a file of the same name, never a folder or a link.
        if (kindOf (parent, name) != Kind::file || unlinkat (fd (parent), raw (name), 0) != 0)
            return {};

        file = Handle (openat (fd (parent), raw (name), flags, fileMode));
    }

    if (file.isValid() && fchmod (fd (file), fileMode) != 0)
        return {};

    return file;
}

bool write (const Handle& file, const void* data, size_t size)
{
    const auto* p = static_cast<const char*> (data);

    for (const auto* e = p + size; p < e;)
    {
        const auto w = ::write (fd (file), p, (size_t) (e - p));

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
    return futimens (fd (file), times) == 0;
}

Handle openFile (const Handle& parent, const juce::String& name)
{
    if (! isPlainName (name))
        return {};

    Handle file (openat (fd (parent), raw (name), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;

    if (! file.isValid() || fstat (fd (file), &info) != 0 || ! S_ISREG (info.st_mode))
        return {};

    return file;
}

void startWriteback (const Handle& file)
{
    sync_file_range (fd (file), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool sync (const Handle& handle)
{
    return fsync (fd (handle)) == 0;
}

bool syncFilesystem (const Handle& handle)
{
    return syncfs (fd (handle)) == 0;
}

//==============================================================================
Rename renameNoReplace (const Handle& fromFolder, const juce::String& from,
                        const Handle& toFolder, const juce::String& to)
{
    if (! isPlainName (from) || ! isPlainName (to))
        return Rename::failed;

    const auto result = renameResult (renameat2 (fd (fromFolder), raw (from), fd (toFolder), raw (to), RENAME_NOREPLACE));

    if (result != Rename::unsupported)
        return result;

    // No RENAME_NOREPLACE here: look first, then rename.
    if (kindOf (toFolder, to) != Kind::missing)
        return Rename::exists;

    return renameat (fd (fromFolder), raw (from), fd (toFolder), raw (to)) == 0 ? Rename::done : Rename::failed;
}

Rename exchange (const Handle& fromFolder, const juce::String& from,
                 const Handle& toFolder, const juce::String& to)
{
    if (! isPlainName (from) || ! isPlainName (to))
        return Rename::failed;

    return renameResult (renameat2 (fd (fromFolder), raw (from), fd (toFolder), raw (to), RENAME_EXCHANGE));
}

bool deleteContents (const Handle& folder)
{
    return folder.isValid() && removeContents (fd (folder));
}

bool deleteTree (const Handle& parent, const juce::String& name)
{
    if (! isPlainName (name))
        return false;

    removeEntry (fd (parent), raw (name));
    return kindOf (parent, name) == Kind::missing;
}

bool deleteWhole (const Handle& parent, const juce::String& name)
{
    // An open or mapped file never stops a deletion here.
    return deleteTree (parent, name);
}

bool markCustomFolder (const Handle&, const juce::String&)
{
    return true;
}

bool removeFolder (const Handle& parent, const juce::String& name, Handle& expected)
{
    struct stat there, ours;

    if (! isPlainName (name)
         || fstatat (fd (parent), raw (name), &there, AT_SYMLINK_NOFOLLOW) != 0
         || fstat (fd (expected), &ours) != 0
         || there.st_dev != ours.st_dev || there.st_ino != ours.st_ino)
        return false;

    return unlinkat (fd (parent), raw (name), AT_REMOVEDIR) == 0;
}

//==============================================================================
bool readSmallFile (const juce::File& file, size_t maxSize, juce::MemoryBlock& content)
{
    // Non-blocking, so a pipe or a device under this name cannot hold us up;
    // what it is gets checked on what we opened, not on the name.
    const Handle h (open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info;

    if (! h.isValid() || fstat (fd (h), &info) != 0 || ! S_ISREG (info.st_mode)
         || info.st_size < 0 || (juce::uint64) info.st_size > maxSize)
        return false;

    // One byte more than allowed tells a file that grew after the check.
    content.setSize (maxSize + 1);
    size_t total = 0;

    for (;;)
    {
        const auto n = read (fd (h), static_cast<char*> (content.getData()) + total, maxSize + 1 - total);

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
} // namespace FileOps
