#pragma once

// The native calls below the Windows file work. Windows-only, engine-internal:
// the tests replace the calls to watch what our handles hold and to make a
// rename or a deletion fail the way a busy machine does.

#include "FileOps.h"

#include <windows.h>
#include <winternl.h>

#include <functional>
#include <string>
#include <vector>

namespace WindowsCalls
{
constexpr NTSTATUS statusAccessDenied     = (NTSTATUS) 0xC0000022L;
constexpr NTSTATUS statusSharingViolation = (NTSTATUS) 0xC0000043L;
constexpr NTSTATUS statusDeletePending    = (NTSTATUS) 0xC0000056L;
constexpr NTSTATUS statusCannotDelete     = (NTSTATUS) 0xC0000121L;
constexpr NTSTATUS statusNameNotFound     = (NTSTATUS) 0xC0000034L;
constexpr NTSTATUS statusPathNotFound     = (NTSTATUS) 0xC000003AL;
constexpr NTSTATUS statusNameCollision    = (NTSTATUS) 0xC0000035L;

// Information classes by number: the toolchain's headers name only some of them.
constexpr auto basicInformation             = (FILE_INFORMATION_CLASS) 4;
constexpr auto renameInformation            = (FILE_INFORMATION_CLASS) 10;
constexpr auto dispositionInformation       = (FILE_INFORMATION_CLASS) 13;
constexpr auto dispositionInformationEx     = (FILE_INFORMATION_CLASS) 64;

/** The calls in force. Every member is set; a test swaps one and puts the
    system's back when it is done. */
struct Calls
{
    /** NtSetInformationFile: renames, deletions and attributes all go through it. */
    std::function<NTSTATUS (HANDLE, PVOID information, ULONG length, FILE_INFORMATION_CLASS)> setInformation;

    /** Told of every handle we open (with the access it holds) and every one we close. */
    std::function<void (HANDLE, ACCESS_MASK)> opened;
    std::function<void (HANDLE)> closing;

    /** Told of every object we create with a descriptor of our own, and of that descriptor. */
    std::function<void (HANDLE, PSECURITY_DESCRIPTOR)> created;

    /** How a retry waits. */
    std::function<void (DWORD milliseconds)> sleep;

    /** MoveFileExW (path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT): deletes the path at the next restart. */
    std::function<BOOL (const wchar_t* path)> deleteAtRestart;

    /** The paths already to be deleted or renamed at the next restart, as the
        system keeps them (PendingFileRenameOperations). */
    std::function<std::vector<std::wstring>()> pendingAtRestart;

    /** Owner and access list of what the handle refers to (GetSecurityInfo),
        freed with LocalFree; nullptr when they cannot be read. */
    std::function<PSECURITY_DESCRIPTOR (HANDLE)> security;
};

Calls& calls();

/** The system's own calls. */
Calls systemCalls();

/** A rename, open or deletion that a moment later may work: something (an
    antivirus, the search indexer) holds the entry without sharing it, or it is
    being deleted. An access denied is never busy: it stays until whoever holds
    a file below closes it, or for good (permissions). */
bool isBusy (NTSTATUS status);

/** Runs attempt until it gives a result that is not busy, backing off for
    about five seconds in all, and never past the BusyWaitBudget in force;
    returns the last result. */
NTSTATUS whileBusy (const std::function<NTSTATUS()>& attempt);

/** Opens one name below an open folder, never through a reparse point. The
    optional descriptor is given to what is created. */
FileOps::Handle openBelow (HANDLE folder, const FileOps::Name& name, ACCESS_MASK access, ULONG share,
                           ULONG disposition, ULONG options, NTSTATUS& status,
                           ULONG attributes = FILE_ATTRIBUTE_NORMAL, PSECURITY_DESCRIPTOR descriptor = nullptr);

/** Opens a folder by its full path without following a reparse point at its
    end; a reparse point there gives no handle. */
FileOps::Handle openFolderByPath (const juce::File& folder, ACCESS_MASK access);

/** Attributes of what the handle refers to, or INVALID_FILE_ATTRIBUTES. */
DWORD attributesOf (HANDLE h);

/** Owner and access list of what the handle refers to, freed with LocalFree. */
PSECURITY_DESCRIPTOR securityOf (HANDLE h);

/** What the handle refers to has a descriptor, and it passes the rule. */
bool securityPasses (HANDLE h, bool (*rule) (const void* securityDescriptor));

/** Renames the open entry to a name in the open folder, never over an entry already there. */
NTSTATUS renameTo (HANDLE entry, HANDLE toFolder, const FileOps::Name& to);
} // namespace WindowsCalls
