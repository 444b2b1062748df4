#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/** The engine's file work below a target folder, one implementation per
    platform. Everything below a target folder goes through opened folder
    handles, one name at a time and never through a link, so a user who can
    write into a target folder cannot steer what we write, change or delete to
    a place outside it. Names read from the disk stay in the system's own form
    (bytes here, UTF-16 on Windows) until they are checked. */
namespace FileOps
{
/** An open folder or file, closed with the object. */
class Handle
{
public:
    Handle() = default;
    explicit Handle (std::intptr_t nativeValue) noexcept : value (nativeValue) {}
    ~Handle()                                   { close(); }

    Handle (Handle&& other) noexcept : value (other.release()) {}

    Handle& operator= (Handle&& other) noexcept
    {
        if (this != &other)
        {
            close();
            value = other.release();
        }

        return *this;
    }

    bool isValid() const noexcept               { return value != invalid; }
    explicit operator bool() const noexcept     { return isValid(); }

    std::intptr_t native() const noexcept       { return value; }

    /** Closes it now; false when the system reports a failed write at close.
        The one part each platform provides. */
    bool close();

private:
    std::intptr_t release() noexcept            { auto v = value; value = invalid; return v; }

    static constexpr std::intptr_t invalid = -1;
    std::intptr_t value = invalid;

    JUCE_DECLARE_NON_COPYABLE (Handle)
};

/** One name directly below a folder, in the system's own form: raw bytes on
    POSIX, UTF-16 code units on Windows. What a listing returns is used as it
    is to open, rename or delete; it becomes text only through toText(). */
class Name
{
public:
   #if JUCE_WINDOWS
    using Native = std::wstring;
   #else
    using Native = std::string;
   #endif

    Name() = default;

    /** One of the program's own names. */
    Name (const juce::String& text);
    Name (const char* text) : Name (juce::String (text)) {}

    static Name fromNative (Native n)           { Name name; name.value = std::move (n); return name; }

    const Native& native() const noexcept       { return value; }

    /** The name as text, for comparing or showing; nothing when it is not
        well-formed in the system's encoding (such a name is never ours). */
    std::optional<juce::String> toText() const;

    bool operator== (const Name& other) const   { return value == other.value; }
    bool operator!= (const Name& other) const   { return value != other.value; }

private:
    Native value;
};

enum class Kind { missing, folder, file, link, other };

enum class Rename
{
    done,
    exists,         ///< something is at the destination (or, for an exchange, nothing is)
    unsupported,    ///< the filesystem cannot do this kind of rename
    inUse,          ///< another program holds the entry, or a file inside it, open (Windows)
    failed
};

enum class Lock
{
    taken,
    busy,           ///< another run holds it
    failed          ///< the system could not take it for another reason
};

/** Which object a name or handle refers to, on which volume. Windows ids are
    128 bits: on ReFS the low half alone is not unique. */
struct Identity
{
    juce::uint64 volume = 0, object = 0;
    bool valid = false;
    juce::uint64 objectHigh = 0;

    /** The object's birth time in nanoseconds where the filesystem keeps one
        (POSIX statx), else 0: tells a reused object number from the first. */
    juce::uint64 born = 0;

    bool operator== (const Identity& o) const
    {
        return valid && o.valid && volume == o.volume && object == o.object && objectHigh == o.objectHigh;
    }

    bool operator!= (const Identity& o) const   { return ! operator== (o); }
};

/** What a walk along a configured path met on its way. */
struct PathReport
{
    bool missing = false;          ///< a part of the path is not there (or is no folder): nothing can lie below it
    bool untrustedLink = false;    ///< a link stood where someone else than the privileged accounts could have put it
    bool holdersGuarded = true;    ///< every folder that holds a part of the path passes onlyPrivilegedCanChange

    /** Set when the folder, or one that holds a part of its path, lets others
        than the privileged accounts rename or delete what it holds (no sticky
        bit): names the first such folder and who, as "the folder /x/y can be
        changed by group audio". Nothing is made below such a folder; the
        install and uninstall change nothing there. */
    juce::String changeableByOthers;
};

/** While it lives, the file work on this thread waits for entries another
    program holds for a moment (a scanner, the indexer) at most this long in
    all, so that files that stay held end a run in bounded time. Where the
    system never reports such entries it changes nothing. */
class BusyWaitBudget
{
public:
    explicit BusyWaitBudget (juce::uint32 milliseconds) noexcept
        : left (milliseconds), previous (std::exchange (innermost(), this)) {}

    ~BusyWaitBudget()   { innermost() = previous; }

    /** The budget in force on this thread, or nullptr. */
    static BusyWaitBudget*& innermost() noexcept
    {
        static thread_local BusyWaitBudget* current = nullptr;
        return current;
    }

    juce::uint32 left;

private:
    BusyWaitBudget* previous;

    JUCE_DECLARE_NON_COPYABLE (BusyWaitBudget)
};

//==============================================================================
/** Opens the configured folder one part at a time, from the root, never
    through a link someone other than the privileged accounts could have put
    there: a link is followed only when the folder holding it passes
    onlyPrivilegedCanChange and the link is owned by them too, so that a
    system's own layout (a root-owned link in a root-owned folder) keeps
    working. With createMissing, missing folders are made (0755) and made
    durable in their parent, but only in folders no one else can change: each
    is checked, on the handle it was opened with, as the empty folder of ours
    just made. Invalid when the path cannot be opened this way; the report
    says why. */
Handle openTargetFolder (const juce::File& folder, bool createMissing, PathReport* report = nullptr);

/** True when only the privileged accounts (root, or the account this process
    runs as; on Windows the administrators) can change the object: on POSIX,
    owned by them and writable by neither group nor others, except that a
    sticky folder (whose entries only their owners may rename or delete)
    counts when stickyIsEnough. */
bool onlyPrivilegedCanChange (const Handle& handle, bool stickyIsEnough = true);

/** Opens a real folder directly below parent; never through a link. */
Handle openFolder (const Handle& parent, const Name& name);

/** Creates a folder (0755, whatever the umask) below parent, or opens the real
    folder already there. */
Handle makeFolder (const Handle& parent, const Name& name);

/** A fresh owner-only folder named prefix + six random characters, locked for
    as long as the handle lives. nameOut receives its name. Only in a folder
    that passes onlyPrivilegedCanChange, so that no one can swap the name
    between its making and its opening; what is opened must be empty and ours. */
Handle createStagingFolder (const Handle& parent, const juce::String& prefix, juce::String& nameOut);

/** Takes the folder's exclusive lock without waiting. */
Lock tryLock (const Handle& folder);

/** Opens the plain file name below parent, made owner-only when missing, and
    takes its exclusive lock without waiting: busy while another holds it. The
    lock lasts as long as the handle. Never through a link. */
Handle takeLockFile (const Handle& parent, const Name& name, Lock& result);

/** True when this process owns what the handle refers to. */
bool isOwnedByUs (const Handle& handle);

/** True when this process owns what the handle refers to and no one else may
    write to it: on POSIX no group or other write bit (nor an access list's
    mask granting one); on Windows as isOwnedByUs. */
bool isOursAlone (const Handle& handle);

/** Kind and owner of the entry directly below parent, links not followed. */
Kind kindOf (const Handle& parent, const Name& name, bool* ownedByUs = nullptr);

/** What the handle, or the entry directly below parent (links not followed), is. */
Identity identityOf (const Handle& handle);
Identity identityOf (const Handle& parent, const Name& name);

/** The part of an identity that still names the same object after a restart
    and a new mount, as text for a record's name: a run's records are read by
    the run after a power cut. Whoever compares by it also checks that the
    object lies on the volume of the folder that holds it now. */
juce::String lastingKeyOf (const Identity& identity);

/** Every name directly below the folder, as the system gives it. */
std::vector<Name> listNames (const Handle& folder);

//==============================================================================
/** A new file (0644) for writing. An existing plain file of that name is
    replaced; a folder or a link is not. */
Handle createFile (const Handle& parent, const Name& name);

/** Writes all of it, or fails. */
bool write (const Handle& file, const void* data, size_t size);

/** Creation, modification and access time. */
bool setTimes (const Handle& file, juce::Time time);

/** Starts putting the file's data on the disk without waiting for it, so that a
    later sync finds it done. Only a hint: where it does nothing, sync still works. */
void startWriteback (const Handle& file);

/** Puts a file's data, or a folder's entries, on the disk. */
bool sync (const Handle& handle);

/** Puts everything written to the handle's filesystem on the disk. */
bool syncFilesystem (const Handle& handle);

//==============================================================================
/** Renames without ever replacing what is at the destination. */
Rename renameNoReplace (const Handle& fromFolder, const Name& from,
                        const Handle& toFolder, const Name& to);

/** True when the entry is what renameNoReplace leaves where it claimed a
    name for a rename that never came (a run killed in between, where renames
    take no flags): an empty file or folder of ours, of the mode only such a
    claim gives. */
bool isUnusedClaim (const Handle& parent, const Name& name);

/** Swaps two entries in one step. */
Rename exchange (const Handle& fromFolder, const Name& from,
                 const Handle& toFolder, const Name& to);

/** Deletes everything inside the folder, never following a link and never
    crossing into another mounted filesystem. */
bool deleteContents (const Handle& folder);

/** Deletes the entry below parent and all it holds, as deleteContents does.
    True only when nothing is left at that name. */
bool deleteTree (const Handle& parent, const Name& name);

/** Deletes the entry below parent and all it holds only when every file in it
    can go. Where one cannot (a module a host has loaded, on a system that keeps
    those), nothing of it is deleted and the result is false; otherwise true once
    every file is gone, even if an emptied folder of it could not go yet. A
    failing disk can still stop it part way: keptWhole then says false. */
bool deleteWhole (const Handle& parent, const Name& name, bool* keptWhole = nullptr);

/** Removes the empty folder named name below parent, but only when it is still
    the folder that expected refers to. May close expected: some systems cannot
    remove a folder that is held open. */
bool removeFolder (const Handle& parent, const Name& name, Handle& expected);

/** Lets the file manager show a bundle folder's own icon from the desktop.ini
    inside it, where the system has such a thing; true when there is nothing to do. */
bool markCustomFolder (const Handle& parent, const Name& name);

//==============================================================================
/** Opens a plain file for reading without ever blocking on it and without
    following a link at its own name: a pipe, a device, a folder or a link
    gives an invalid handle. What it is gets checked on what was opened. */
Handle openForReading (const Handle& parent, const Name& name);
Handle openForReading (const juce::File& file);

/** The size of an open file, or -1. */
juce::int64 sizeOf (const Handle& file);

/** Reads exactly size bytes at offset, or fails. */
bool readAt (const Handle& file, juce::uint64 offset, void* dest, size_t size);

/** Reads a whole file opened by openForReading, of at most maxSize bytes;
    a larger file, or one that grows while it is read, gives false. */
bool readSmallFile (const Handle& file, size_t maxSize, juce::MemoryBlock& content);

/** Deletes the file only when it is a plain file that this process owns. */
void deleteOwnPlainFile (const juce::File& file);

/** How many entries this process has left for the system to delete at the next
    restart (files a program still held); always 0 where no system does that. */
int deletionsLeftForRestart();
} // namespace FileOps
