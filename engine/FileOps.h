#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

/** The engine's file work below a target folder, one implementation per
    platform. Everything below a target folder goes through opened folder
    handles, one name at a time and never through a link, so a user who can
    write into a target folder cannot steer what we write, change or delete to
    a place outside it. */
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

enum class Kind { missing, folder, file, link, other };

enum class Rename
{
    done,
    exists,         ///< something is at the destination (or, for an exchange, nothing is)
    unsupported,    ///< the filesystem cannot do this kind of rename
    failed
};

//==============================================================================
/** Opens the configured folder; links in its path are followed, as the settings
    chose it. With createMissing, missing folders are made first (mode 0755). */
Handle openTargetFolder (const juce::File& folder, bool createMissing);

/** Opens a real folder directly below parent; never through a link. */
Handle openFolder (const Handle& parent, const juce::String& name);

/** Creates a folder (0755, whatever the umask) below parent, or opens the real
    folder already there. */
Handle makeFolder (const Handle& parent, const juce::String& name);

/** A fresh owner-only folder named prefix + six random characters, locked for
    as long as the handle lives. nameOut receives its name. */
Handle createStagingFolder (const Handle& parent, const juce::String& prefix, juce::String& nameOut);

/** Takes the folder's exclusive lock without waiting; false when another run holds it. */
bool tryLock (const Handle& folder);

/** True when this process owns what the handle refers to. */
bool isOwnedByUs (const Handle& handle);

/** Kind and owner of the entry directly below parent, links not followed. */
Kind kindOf (const Handle& parent, const juce::String& name, bool* ownedByUs = nullptr);

/** Kind of whatever is at a path, links not followed. Missing only when the
    system says so, not when it cannot look. */
Kind kindOf (const juce::File& path);

/** Every name directly below the folder. */
juce::StringArray listNames (const Handle& folder);

//==============================================================================
/** A new file (0644) for writing. An existing plain file of that name is
    replaced; a folder or a link is not. */
Handle createFile (const Handle& parent, const juce::String& name);

/** Writes all of it, or fails. */
bool write (const Handle& file, const void* data, size_t size);

/** Creation, modification and access time. */
bool setTimes (const Handle& file, juce::Time time);

/** Opens the plain file directly below parent, to sync it; never through a link. */
Handle openFile (const Handle& parent, const juce::String& name);

/** Starts putting the file's data on the disk without waiting for it, so that a
    later sync finds it done. Only a hint: where it does nothing, sync still works. */
void startWriteback (const Handle& file);

/** Puts a file's data, or a folder's entries, on the disk. */
bool sync (const Handle& handle);

/** Puts everything written to the handle's filesystem on the disk. */
bool syncFilesystem (const Handle& handle);

//==============================================================================
Rename renameNoReplace (const Handle& fromFolder, const juce::String& from,
                        const Handle& toFolder, const juce::String& to);

/** Swaps two entries in one step. */
Rename exchange (const Handle& fromFolder, const juce::String& from,
                 const Handle& toFolder, const juce::String& to);

/** Deletes everything inside the folder, never following a link. */
bool deleteContents (const Handle& folder);

/** Deletes the entry below parent and all it holds, never following a link.
    True only when nothing is left at that name. */
bool deleteTree (const Handle& parent, const juce::String& name);

/** Deletes the entry below parent and all it holds only when every file in it
    can go. Where one cannot (a module a host has loaded, on a system that keeps
    those), nothing of it is deleted and the result is false; otherwise true once
    every file is gone, even if an emptied folder of it could not go yet. */
bool deleteWhole (const Handle& parent, const juce::String& name);

/** Removes the empty folder named name below parent, but only when it is still
    the folder that expected refers to. May close expected: some systems cannot
    remove a folder that is held open. */
bool removeFolder (const Handle& parent, const juce::String& name, Handle& expected);

/** Lets the file manager show a bundle folder's own icon from the desktop.ini
    inside it, where the system has such a thing; true when there is nothing to do. */
bool markCustomFolder (const Handle& parent, const juce::String& name);

//==============================================================================
/** Reads a plain file of at most maxSize bytes without ever blocking on it.
    Anything else (a pipe, a device, a folder, a larger file) gives false. */
bool readSmallFile (const juce::File& file, size_t maxSize, juce::MemoryBlock& content);

/** Deletes the file only when it is a plain file that this process owns. */
void deleteOwnPlainFile (const juce::File& file);
} // namespace FileOps
