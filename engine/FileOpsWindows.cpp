#include "FileOps.h"
#include "RunLog.h"
#include "SettingsTrust.h"
#include "WindowsCalls.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <vector>

// Below a target folder every name is opened relative to an open folder handle
// through the native API (NtCreateFile with a root directory), and never
// through a reparse point, so a junction or link planted in a bundle cannot
// steer our writes, renames or deletions outside it.
//
// Sharing: before a rename Windows opens the destination folder itself, sharing
// only read and write, so a folder handle of ours that holds DELETE would make
// every rename into that folder fail. Folder handles therefore never hold
// DELETE; a folder that must go is closed, reopened by name with DELETE,
// compared with the one held, and only then deleted.
namespace WindowsCalls
{
namespace
{
NTSTATUS systemSetInformation (HANDLE h, PVOID information, ULONG length, FILE_INFORMATION_CLASS infoClass)
{
    IO_STATUS_BLOCK io {};
    return NtSetInformationFile (h, &io, information, length, infoClass);
}

std::vector<std::wstring> systemPendingAtRestart()
{
    // Pairs of source and destination, an empty destination for a deletion.
    const auto* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    const auto* value = L"PendingFileRenameOperations";
    DWORD size = 0;
    std::vector<std::wstring> paths;

    if (RegGetValueW (HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return paths;

    std::vector<wchar_t> text (size / sizeof (wchar_t) + 2, 0);
    size = (DWORD) ((text.size() - 2) * sizeof (wchar_t));

    if (RegGetValueW (HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_MULTI_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS)
        return paths;

    for (const auto* p = text.data(); p < text.data() + text.size() && *p != 0; p += wcslen (p) + 1)
        paths.emplace_back (p);

    return paths;
}
} // namespace

Calls systemCalls()
{
    Calls c;
    c.setInformation = systemSetInformation;
    c.opened = [] (HANDLE, ACCESS_MASK) {};
    c.closing = [] (HANDLE) {};
    c.created = [] (HANDLE, PSECURITY_DESCRIPTOR) {};
    c.sleep = [] (DWORD milliseconds) { Sleep (milliseconds); };
    c.deleteAtRestart = [] (const wchar_t* path) { return MoveFileExW (path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); };
    c.pendingAtRestart = systemPendingAtRestart;
    c.security = [] (HANDLE h) -> PSECURITY_DESCRIPTOR
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;

        if (GetSecurityInfo (h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            return nullptr;

        return descriptor;
    };
    return c;
}

Calls& calls()
{
    static Calls inForce = systemCalls();
    return inForce;
}

bool isBusy (NTSTATUS status)
{
    return status == statusSharingViolation || status == statusDeletePending;
}

NTSTATUS whileBusy (const std::function<NTSTATUS()>& attempt)
{
    // About five seconds for one entry: long enough for a scanner's look at a
    // fresh file. The budget in force bounds them all together, so that many
    // held files cannot add up to minutes of a frozen window.
    constexpr DWORD budget = 5000, longestWait = 500;
    DWORD waited = 0, wait = 10;

    for (;;)
    {
        const auto status = attempt();
        auto* shared = FileOps::BusyWaitBudget::innermost();
        const auto allowed = std::min (budget - std::min (waited, budget), shared != nullptr ? (DWORD) shared->left : budget);

        if (! isBusy (status) || allowed == 0)
            return status;

        const auto thisWait = std::min (wait, allowed);
        calls().sleep (thisWait);
        waited += thisWait;

        if (shared != nullptr)
            shared->left -= thisWait;

        wait = std::min (wait * 2, longestWait);
    }
}

FileOps::Handle openBelow (HANDLE folder, const FileOps::Name& name, ACCESS_MASK access, ULONG share,
                           ULONG disposition, ULONG options, NTSTATUS& status, ULONG attributes,
                           PSECURITY_DESCRIPTOR descriptor)
{
    const auto& wide = name.native();
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR> (reinterpret_cast<const WCHAR*> (wide.c_str()));
    objectName.Length = (USHORT) (wide.size() * sizeof (WCHAR));
    objectName.MaximumLength = objectName.Length;

    OBJECT_ATTRIBUTES objectAttributes;
    InitializeObjectAttributes (&objectAttributes, &objectName, OBJ_CASE_INSENSITIVE, folder, descriptor);

    IO_STATUS_BLOCK io {};
    HANDLE h = INVALID_HANDLE_VALUE;
    status = NtCreateFile (&h, access | SYNCHRONIZE, &objectAttributes, &io, nullptr, attributes, share,
                           disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);

    if (! NT_SUCCESS (status) || h == nullptr || h == INVALID_HANDLE_VALUE)
    {
        SetLastError (RtlNtStatusToDosError (status));   // the caller's failure record reads it
        return {};
    }

    calls().opened (h, access | SYNCHRONIZE);

    if (descriptor != nullptr && io.Information == FILE_CREATED)
        calls().created (h, descriptor);

    return FileOps::Handle ((std::intptr_t) h);
}

FileOps::Handle openFolderByPath (const juce::File& folder, ACCESS_MASK access)
{
    const auto h = CreateFileW (folder.getFullPathName().toWideCharPointer(), access | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

    if (h == INVALID_HANDLE_VALUE)
        return {};

    calls().opened (h, access | SYNCHRONIZE);
    FileOps::Handle result ((std::intptr_t) h);
    const auto attributes = attributesOf (h);

    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0
         || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return {};

    return result;
}

DWORD attributesOf (HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO info {};
    return GetFileInformationByHandleEx (h, FileAttributeTagInfo, &info, sizeof (info)) ? info.FileAttributes
                                                                                         : INVALID_FILE_ATTRIBUTES;
}

PSECURITY_DESCRIPTOR securityOf (HANDLE h)
{
    return calls().security (h);
}

bool securityPasses (HANDLE h, bool (*rule) (const void*))
{
    const auto descriptor = securityOf (h);
    const bool passes = descriptor != nullptr && rule (descriptor);
    LocalFree (descriptor);
    return passes;
}

NTSTATUS renameTo (HANDLE entry, HANDLE toFolder, const FileOps::Name& to)
{
    const auto* wide = to.native().c_str();
    const auto nameBytes = to.native().size() * sizeof (WCHAR);
    std::vector<char> buffer (sizeof (FILE_RENAME_INFORMATION) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*> (buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = toFolder;
    info->FileNameLength = (ULONG) nameBytes;
    memcpy (info->FileName, wide, nameBytes);
    return calls().setInformation (entry, info, (ULONG) buffer.size(), renameInformation);
}
} // namespace WindowsCalls

//==============================================================================
namespace FileOps
{
namespace
{
using namespace WindowsCalls;

constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Without DELETE: see the note at the top.
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY
                                      | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

HANDLE native (const Handle& h) noexcept   { return (HANDLE) h.native(); }

/** A name for one step below a folder: no separators, no stream or drive part, no "." or "..". */
bool isPlainName (const Name& name)
{
    const auto& n = name.native();
    return ! n.empty() && n != L"." && n != L".." && n.find_first_of (std::wstring (L"/\\:\0", 4)) == std::wstring::npos;
}

struct OpenResult
{
    Handle handle;
    NTSTATUS status = 0;
};

/** NtCreateFile of one name below parent; the entry itself is opened, never what a reparse point names. */
OpenResult openAt (const Handle& parent, const Name& name, ACCESS_MASK access,
                   ULONG share, ULONG disposition, ULONG options, ULONG attributes = FILE_ATTRIBUTE_NORMAL)
{
    OpenResult result;

    if (! parent.isValid() || ! isPlainName (name))
    {
        result.status = (NTSTATUS) 0xC0000033L;   // object name invalid
        return result;
    }

    result.handle = openBelow (native (parent), name, access, share, disposition, options, result.status, attributes);
    return result;
}

/** openAt, tried again while the entry is busy. */
OpenResult openWhileBusy (const Handle& parent, const Name& name, ACCESS_MASK access, ULONG disposition, ULONG options)
{
    OpenResult result;
    result.status = whileBusy ([&]
    {
        result = openAt (parent, name, access, shareAll, disposition, options);
        return result.status;
    });
    return result;
}

bool isGone (NTSTATUS status)
{
    return status == statusNameNotFound || status == statusPathNotFound;
}

bool isRealFolder (HANDLE h)
{
    const auto attributes = attributesOf (h);
    return attributes != INVALID_FILE_ATTRIBUTES
            && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
            && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

/** Opens a real folder below parent (not a junction or link), or nothing. */
Handle openRealFolder (const Handle& parent, const Name& name, ULONG share, ULONG disposition,
                       ACCESS_MASK access = folderAccess)
{
    auto opened = openAt (parent, name, access, share, disposition, FILE_DIRECTORY_FILE);

    if (opened.handle && ! isRealFolder (native (opened.handle)))
        return {};

    return std::move (opened.handle);
}

bool fileIdOf (HANDLE h, FILE_ID_INFO& id)
{
    if (GetFileInformationByHandleEx (h, FileIdInfo, &id, sizeof (id)))
        return true;

    // Older systems: the volume serial and the 64-bit index.
    BY_HANDLE_FILE_INFORMATION info {};

    if (! GetFileInformationByHandle (h, &info))
        return false;

    id = {};
    id.VolumeSerialNumber = info.dwVolumeSerialNumber;
    memcpy (id.FileId.Identifier, &info.nFileIndexLow, sizeof (DWORD));
    memcpy (id.FileId.Identifier + sizeof (DWORD), &info.nFileIndexHigh, sizeof (DWORD));
    return true;
}

bool isSameId (const FILE_ID_INFO& a, const FILE_ID_INFO& b)
{
    return a.VolumeSerialNumber == b.VolumeSerialNumber
            && memcmp (a.FileId.Identifier, b.FileId.Identifier, sizeof (a.FileId.Identifier)) == 0;
}

bool isUnsupported (NTSTATUS status)
{
    return status == (NTSTATUS) 0xC0000003L     // invalid information class
        || status == (NTSTATUS) 0xC0000002L     // not implemented
        || status == (NTSTATUS) 0xC00000BBL     // not supported
        || status == (NTSTATUS) 0xC000000DL;    // invalid parameter (a volume without the flags)
}

NTSTATUS setAttributes (HANDLE h, DWORD add, DWORD remove)
{
    FILE_BASIC_INFO basic {};

    if (! GetFileInformationByHandleEx (h, FileBasicInfo, &basic, sizeof (basic)))
        return statusAccessDenied;

    // Zero times leave them as they are.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    basic.FileAttributes = (basic.FileAttributes | add) & ~remove;

    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;

    return calls().setInformation (h, &basic, sizeof (basic), basicInformation);
}

/** Marks an open entry for deletion (or, with remove false, takes the mark
    back). With POSIX semantics the name goes as our handle closes, even while
    a scanner still holds the file; where the system lacks them, the old way,
    read-only cleared first. */
NTSTATUS setDisposition (HANDLE h, bool remove)
{
    constexpr ULONG deleteFlag = 0x1, posixSemantics = 0x2, ignoreReadOnly = 0x10;
    ULONG flags = remove ? (deleteFlag | posixSemantics | ignoreReadOnly) : 0;
    auto status = calls().setInformation (h, &flags, sizeof (flags), dispositionInformationEx);

    if (! isUnsupported (status))
        return status;

    FILE_DISPOSITION_INFO disposition {};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    status = calls().setInformation (h, &disposition, sizeof (disposition), dispositionInformation);

    if (status != statusCannotDelete || ! remove || (attributesOf (h) & FILE_ATTRIBUTE_READONLY) == 0)
        return status;

    if (! NT_SUCCESS (setAttributes (h, 0, FILE_ATTRIBUTE_READONLY)))
        return status;

    return calls().setInformation (h, &disposition, sizeof (disposition), dispositionInformation);
}

juce::String randomSuffix()
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    juce::String suffix;

    for (int i = 0; i < 6; ++i)
        suffix << alphabet[juce::Random::getSystemRandom().nextInt ((int) sizeof (alphabet) - 1)];

    return suffix;
}

std::atomic<int> leftForRestart { 0 };

/** A path without its "\\?\" or "\??\" prefix: the restart's list keeps the second form. */
std::wstring withoutPrefix (const std::wstring& path)
{
    return path.rfind (L"\\\\?\\", 0) == 0 || path.rfind (L"\\??\\", 0) == 0 ? path.substr (4) : path;
}

/** Deletes the entry at the next restart, by its full path, once: a path
    already on the system's list is not added again, however often a run finds
    it still held. True when it is on the list. */
bool deleteAtRestart (HANDLE h)
{
    std::vector<WCHAR> buffer (32768);
    const auto length = GetFinalPathNameByHandleW (h, buffer.data(), (DWORD) buffer.size(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);

    if (length == 0 || length >= buffer.size())
        return false;

    const std::wstring path (buffer.data(), length);
    const auto bare = withoutPrefix (path);
    bool listed = false;

    for (const auto& pending : calls().pendingAtRestart())
        listed = listed || CompareStringOrdinal (withoutPrefix (pending).c_str(), -1, bare.c_str(), -1, TRUE) == CSTR_EQUAL;

    if (! listed && ! calls().deleteAtRestart (path.c_str()))
        return false;

    // Counted for every run that leaves it so, scheduled now or before.
    ++leftForRestart;
    RunLog::noteCause (RunLog::Cause::restartNeeded);
    return true;
}

const std::wstring retiredSuffix (L".oh-delete");

/** A file that cannot be deleted now (a module a host still has loaded) gets a
    name without a plug-in extension, so no host scanning folders takes it for
    a plug-in, and goes at the next restart. One retired before keeps its name. */
void retire (const Handle& folder, const Name& name, HANDLE entry)
{
    const auto& n = name.native();
    const bool retiredBefore = n.size() > retiredSuffix.size()
                                && n.compare (n.size() - retiredSuffix.size(), retiredSuffix.size(), retiredSuffix) == 0;

    const auto retired = [&n] (const juce::String& suffix)
    {
        return Name::fromNative (n + static_cast<const wchar_t*> (suffix.toWideCharPointer()));
    };

    for (auto newName = retired (".oh-delete"); ! retiredBefore; newName = retired ("." + randomSuffix() + ".oh-delete"))
    {
        const auto status = renameTo (entry, native (folder), newName);

        if (status != statusNameCollision)
            break;
    }

    deleteAtRestart (entry);
}

bool removeContents (const Handle& folder, bool retireWhatStays);

/** A loaded module cannot be deleted, and a file opened without delete
    sharing can be neither renamed nor deleted: another program holds it. */
bool isInUse (NTSTATUS status)
{
    return status == statusCannotDelete || status == statusSharingViolation;
}

void noteWhetherInUse (NTSTATUS status)
{
    if (isInUse (status))
        RunLog::noteCause (RunLog::Cause::inUse);
}

struct Probe
{
    Handle handle;            ///< a real folder: open for listing; anything else: for its attributes
    NTSTATUS status = 0;
    bool isFolder = false;
};

/** What is at name: a real folder comes back open for listing (without
    DELETE); a file, link or other entry only as a kind. Reading attributes
    never meets a sharing conflict, so a scanner's open does not stop this. */
Probe probeEntry (const Handle& folder, const Name& name)
{
    Probe probe;
    auto opened = openAt (folder, name, FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, 0);
    probe.status = opened.status;

    if (! opened.handle)
        return probe;

    if (! isRealFolder (native (opened.handle)))
    {
        probe.handle = std::move (opened.handle);
        return probe;
    }

    opened.handle.close();
    probe.isFolder = true;
    probe.status = whileBusy ([&]
    {
        auto listing = openAt (folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                               shareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
        probe.handle = std::move (listing.handle);
        return listing.status;
    });

    // Replaced by a junction in between: not ours to go into.
    if (probe.handle && ! isRealFolder (native (probe.handle)))
        probe.handle.close();

    return probe;
}

/** Deletes the real folder named name below parent, which held is open on:
    held is closed, the name reopened with DELETE and compared with it. */
bool removeHeldFolder (const Handle& parent, const Name& name, Handle& held, bool retireWhatStays)
{
    FILE_ID_INFO heldId {};

    if (! held.isValid() || ! fileIdOf (native (held), heldId))
        return false;

    held.close();
    auto again = openWhileBusy (parent, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_OPEN, FILE_DIRECTORY_FILE);
    FILE_ID_INFO id {};

    if (! again.handle || ! fileIdOf (native (again.handle), id) || ! isSameId (id, heldId))
        return false;

    if (NT_SUCCESS (whileBusy ([&] { return setDisposition (native (again.handle), true); })))
        return true;

    // Still holds what could not go: it follows that at the next restart.
    if (retireWhatStays)
        deleteAtRestart (native (again.handle));

    return false;
}

/** Deletes one entry below folder: a file or a reparse point goes as it is,
    a real folder is emptied through its own handle first. */
bool removeEntry (const Handle& folder, const Name& name, bool retireWhatStays)
{
    auto probe = probeEntry (folder, name);

    if (! probe.handle)
        return isGone (probe.status);

    if (probe.isFolder)
    {
        const bool emptied = removeContents (probe.handle, retireWhatStays);
        return removeHeldFolder (folder, name, probe.handle, retireWhatStays && ! emptied) && emptied;
    }

    auto entry = openWhileBusy (folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0);

    if (! entry.handle)
        return isGone (entry.status);

    if (NT_SUCCESS (whileBusy ([&] { return setDisposition (native (entry.handle), true); })))
        return true;

    if (retireWhatStays)
        retire (folder, name, native (entry.handle));

    return false;
}

bool removeContents (const Handle& folder, bool retireWhatStays)
{
    bool ok = true;

    for (const auto& name : listNames (folder))
        ok = removeEntry (folder, name, retireWhatStays) && ok;

    return ok;
}

/** Opens every file below folder (and the entry itself, when it is no
    folder) and marks it for deletion, keeping the handles; false at the first
    that refuses. */
bool markEveryFile (const Handle& folder, const Name& name, std::vector<Handle>& marked)
{
    auto probe = probeEntry (folder, name);

    if (! probe.handle)
        return isGone (probe.status);

    if (probe.isFolder)
    {
        for (const auto& child : listNames (probe.handle))
            if (! markEveryFile (probe.handle, child, marked))
                return false;

        return true;
    }

    auto entry = openWhileBusy (folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0);

    if (! entry.handle)
    {
        noteWhetherInUse (entry.status);
        return isGone (entry.status);
    }

    const auto status = whileBusy ([&] { return setDisposition (native (entry.handle), true); });

    if (! NT_SUCCESS (status))
    {
        noteWhetherInUse (status);
        SetLastError (RtlNtStatusToDosError (status));   // the caller's failure record reads it
        return false;
    }

    marked.push_back (std::move (entry.handle));
    return true;
}

/** The owner of what the handle refers to is Administrators, SYSTEM or TrustedInstaller. */
bool hasTrustedOwner (HANDLE h)
{
    return securityPasses (h, SettingsTrust::hasTrustedOwner);
}

bool isTrustedFolder (HANDLE h)
{
    return securityPasses (h, SettingsTrust::isTrustedFolderDescriptor);
}

constexpr int maxLinks = 40;

bool isNameSurrogate (HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO info {};
    return ! GetFileInformationByHandleEx (h, FileAttributeTagInfo, &info, sizeof (info))
            || IsReparseTagNameSurrogate (info.ReparseTag);
}

/** The full path a mount point or symbolic link names, absolute; empty for
    any other kind of reparse point. holderPath is the folder holding it. */
juce::String reparseTarget (HANDLE link, const juce::String& holderPath)
{
    std::vector<BYTE> buffer (16 * 1024);
    DWORD returned = 0;

    if (! DeviceIoControl (link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), (DWORD) buffer.size(), &returned, nullptr)
         || returned < 16)
        return {};

    // Tag, data length, then the names' offsets and lengths; a symbolic link has flags before its names.
    const auto word = [&] (size_t at) { WORD w; memcpy (&w, buffer.data() + at, sizeof (w)); return (size_t) w; };
    DWORD tag = 0;
    memcpy (&tag, buffer.data(), sizeof (tag));

    if (tag != IO_REPARSE_TAG_MOUNT_POINT && tag != IO_REPARSE_TAG_SYMLINK)
        return {};

    const size_t names = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
    ULONG flags = 0;

    if (tag == IO_REPARSE_TAG_SYMLINK)
        memcpy (&flags, buffer.data() + 16, sizeof (flags));

    const auto offset = names + word (8), length = word (10);

    if (offset + length > returned || length % 2 != 0)
        return {};

    std::wstring name (length / 2, L'\0');
    memcpy (name.data(), buffer.data() + offset, length);
    const juce::String target (name.c_str(), name.size());

    if ((flags & 1) != 0)   // relative to the folder holding it
        return holderPath.trimCharactersAtEnd ("\\") + "\\" + target;

    if (target.startsWith ("\\??\\UNC\\"))
        return "\\\\" + target.substring (8);

    return target.startsWith ("\\??\\") ? target.substring (4) : target;
}

/** Splits a full path into the part opened as it is (a drive's root, a
    share, a volume) and the names below it; false for anything else. */
bool splitPath (const juce::String& path, juce::String& root, juce::StringArray& parts)
{
    auto rest = path;
    root = {};

    if (rest.startsWith ("\\\\?\\"))
    {
        root = "\\\\?\\";
        rest = rest.substring (4);

        if (rest.startsWithIgnoreCase ("UNC\\"))
        {
            root << "UNC\\";
            rest = rest.substring (4);
        }
        else if (rest.startsWithIgnoreCase ("Volume{"))
        {
            root << rest.upToFirstOccurrenceOf ("\\", true, false);
            rest = rest.fromFirstOccurrenceOf ("\\", false, false);
            parts.addTokens (rest, "\\", {});
            parts.removeEmptyStrings();
            return true;
        }
    }
    else if (rest.startsWith ("\\\\"))
    {
        root = "\\\\";
        rest = rest.substring (2);
    }

    if (root.endsWith ("UNC\\") || root == "\\\\")
    {
        // \\server\\share\\ is the root of a share.
        const auto server = rest.upToFirstOccurrenceOf ("\\", false, false);
        rest = rest.fromFirstOccurrenceOf ("\\", false, false);
        const auto share = rest.upToFirstOccurrenceOf ("\\", false, false);
        rest = rest.fromFirstOccurrenceOf ("\\", false, false);

        if (server.isEmpty() || share.isEmpty())
            return false;

        root << server << "\\" << share << "\\";
    }
    else
    {
        if (rest.length() < 3 || rest[1] != ':' || rest[2] != '\\' || ! juce::CharacterFunctions::isLetter (rest[0]))
            return false;

        root << rest.substring (0, 3);
        rest = rest.substring (3);
    }

    parts.addTokens (rest, "\\", {});
    parts.removeEmptyStrings();
    return true;
}

// Only what a walk needs: a folder on the way may be one we may not change.
constexpr ACCESS_MASK walkAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

Handle walkPath (const juce::String& path, bool createMissing, PathReport& report, int& linksLeft);

/** Walks the names below an open folder one at a time: a reparse point is
    followed only where the administrators own it and no one else may add
    entries to the folder holding it (anyone who may add one may plant one),
    and its target is walked by the same rule. */
Handle walkBelow (Handle current, juce::String currentPath, const juce::StringArray& parts, bool createMissing,
                  PathReport& report, int& linksLeft)
{
    for (const auto& part : parts)
    {
        if (! current.isValid())
            return {};

        if (part == ".")
            continue;

        if (part == ".." || ! isPlainName (part))
            return {};

        const bool holderGuarded = onlyPrivilegedCanChange (current);
        Handle next;

        for (int attempt = 0; attempt < 3 && ! next.isValid(); ++attempt)
        {
            auto opened = openAt (current, part, walkAccess, shareAll, FILE_OPEN, 0);

            if (! opened.handle)
            {
                if (! isGone (opened.status))
                    return {};

                if (! createMissing)
                {
                    report.missing = true;
                    return {};
                }

                // Made by someone else meanwhile: look again at what is there now.
                const auto made = openAt (current, part, walkAccess, shareAll, FILE_CREATE, FILE_DIRECTORY_FILE);

                if (! made.handle && made.status != statusNameCollision)
                    return {};

                continue;
            }

            const auto h = native (opened.handle);
            const auto attributes = attributesOf (h);

            if (attributes == INVALID_FILE_ATTRIBUTES)
                return {};

            // Only a name surrogate (a junction, a symbolic link) names another
            // place; any other reparse point (a cloud placeholder) is the folder itself.
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && isNameSurrogate (h))
            {
                if (! hasTrustedOwner (h) || ! securityPasses (native (current), SettingsTrust::isTrustedDescriptor))
                {
                    report.untrustedLink = true;
                    return {};
                }

                const auto target = reparseTarget (h, currentPath);

                if (target.isEmpty() || --linksLeft < 0)
                    return {};

                next = walkPath (target, createMissing, report, linksLeft);

                if (! next.isValid())
                    return {};

                break;
            }

            // A file or something else: nothing can lie below it.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            {
                report.missing = true;
                return {};
            }

            next = std::move (opened.handle);
        }

        if (! next.isValid())
            return {};

        report.holdersGuarded = report.holdersGuarded && holderGuarded;
        current = std::move (next);
        currentPath = currentPath.trimCharactersAtEnd ("\\") + "\\" + part;
    }

    return current;
}

Handle walkPath (const juce::String& path, bool createMissing, PathReport& report, int& linksLeft)
{
    juce::String root;
    juce::StringArray parts;

    if (! splitPath (path, root, parts))
        return {};

    // The root itself is the system's (a drive, a share, a volume), opened as it is.
    const auto h = CreateFileW (root.toWideCharPointer(), walkAccess, shareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);

    if (h == INVALID_HANDLE_VALUE)
    {
        const auto error = GetLastError();
        report.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {};
    }

    calls().opened (h, walkAccess);
    return walkBelow (Handle ((std::intptr_t) h), root, parts, createMissing, report, linksLeft);
}

Kind kindOfHandle (HANDLE h)
{
    const auto attributes = attributesOf (h);

    if (attributes == INVALID_FILE_ATTRIBUTES)  return Kind::other;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)  return Kind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)  return Kind::folder;
    return GetFileType (h) == FILE_TYPE_DISK ? Kind::file : Kind::other;
}
} // namespace

//==============================================================================
Name::Name (const juce::String& text) : value (static_cast<const wchar_t*> (text.toWideCharPointer())) {}

std::optional<juce::String> Name::toText() const
{
    // Well-formed UTF-16 only: every surrogate in a pair, and no NUL.
    for (size_t i = 0; i < value.size(); ++i)
    {
        const auto c = (juce::uint32) (juce::uint16) value[i];

        if (c == 0 || (c >= 0xdc00 && c <= 0xdfff))
            return {};

        if (c >= 0xd800 && c <= 0xdbff)
        {
            if (++i == value.size() || (juce::uint16) value[i] < 0xdc00 || (juce::uint16) value[i] > 0xdfff)
                return {};
        }
    }

    return juce::String (juce::CharPointer_UTF16 (reinterpret_cast<const juce::CharPointer_UTF16::CharType*> (value.c_str())),
                         value.size());
}

//==============================================================================
bool Handle::close()
{
    if (! isValid())
        return true;

    const auto h = (HANDLE) release();
    calls().closing (h);
    return CloseHandle (h) != 0;
}

//==============================================================================
Handle openTargetFolder (const juce::File& folder, bool createMissing, PathReport* report)
{
    PathReport ignored;
    auto& r = report != nullptr ? *report : ignored;
    r = {};

    const auto path = folder.getFullPathName();

    if (! juce::File::isAbsolutePath (path))
        return {};

    int linksLeft = maxLinks;
    const auto walked = walkPath (path, createMissing, r, linksLeft);

    if (! walked)
        return {};

    // The folder itself is worked in: reopened, the same object, for that.
    const auto h = ReOpenFile (native (walked), folderAccess, shareAll, FILE_FLAG_BACKUP_SEMANTICS);

    if (h == INVALID_HANDLE_VALUE)
        return {};

    calls().opened (h, folderAccess);
    return Handle ((std::intptr_t) h);
}

bool onlyPrivilegedCanChange (const Handle& handle, bool)
{
    // Administrators, SYSTEM and TrustedInstaller own it and no one else may
    // change it.
    if (! handle.isValid())
        return false;

    const auto h = native (handle);

    // Windows has no sticky bit; the folder rule is its like, and is enough
    // for any folder: an entry someone else adds is theirs, and fails the
    // file rule, while ours cannot be renamed or deleted by them.
    const auto attributes = attributesOf (h);
    const bool folderRule = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return securityPasses (h, folderRule ? SettingsTrust::isTrustedFolderDescriptor : SettingsTrust::isTrustedDescriptor);
}

Handle openFolder (const Handle& parent, const Name& name)
{
    return openRealFolder (parent, name, shareAll, FILE_OPEN);
}

Handle makeFolder (const Handle& parent, const Name& name)
{
    return openRealFolder (parent, name, shareAll, FILE_OPEN_IF);
}

Handle createStagingFolder (const Handle& parent, const juce::String& prefix, juce::String& nameOut)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const auto text = prefix + randomSuffix();
        const Name name (text);

        // No delete sharing: while we hold it no other run can open it to
        // delete it. That needs no DELETE access of our own, so renames into
        // it still work (Windows opens a rename's destination folder sharing
        // read and write only).
        auto opened = openAt (parent, name, folderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                              FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_HIDDEN);

        if (opened.status == statusNameCollision)
            continue;

        if (! opened.handle)
            return {};

        nameOut = text;
        return std::move (opened.handle);
    }

    return {};
}

Lock tryLock (const Handle& folder)
{
    // A live run holds its staging folder without delete sharing: opening the
    // same folder again with DELETE fails exactly while such a run is there.
    if (! folder.isValid())
        return Lock::failed;

    const auto probe = ReOpenFile (native (folder), DELETE | FILE_READ_ATTRIBUTES, shareAll, FILE_FLAG_BACKUP_SEMANTICS);

    if (probe == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? Lock::busy : Lock::failed;

    CloseHandle (probe);
    return Lock::taken;
}

Handle takeLockFile (const Handle& parent, const Name& name, Lock& result)
{
    // Shared with no one: a second open, by another run or anyone else, fails
    // with a sharing violation for as long as we hold it. So no one but the
    // administrators may open it at all: anyone who could would hold it for
    // ever and look like a run.
    result = Lock::failed;
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (! parent.isValid() || ! isPlainName (name)
         || ! ConvertStringSecurityDescriptorToSecurityDescriptorW (L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                                    &descriptor, nullptr))
        return {};

    NTSTATUS status = 0;
    auto lock = openBelow (native (parent), name, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, FILE_OPEN_IF,
                           FILE_NON_DIRECTORY_FILE, status, FILE_ATTRIBUTE_NORMAL, descriptor);
    LocalFree (descriptor);

    if (! lock)
    {
        result = status == statusSharingViolation ? Lock::busy : Lock::failed;
        return {};
    }

    if (kindOfHandle (native (lock)) != Kind::file || ! securityPasses (native (lock), SettingsTrust::isPrivateDescriptor))
        return {};

    result = Lock::taken;
    return lock;
}

bool isOwnedByUs (const Handle& handle)
{
    return handle.isValid() && hasTrustedOwner (native (handle));
}

bool isOursAlone (const Handle& handle)
{
    return isOwnedByUs (handle);
}

Kind kindOf (const Handle& parent, const Name& name, bool* ownedByUs)
{
    if (ownedByUs != nullptr)
        *ownedByUs = false;

    auto opened = openAt (parent, name, FILE_READ_ATTRIBUTES | READ_CONTROL, shareAll, FILE_OPEN, 0);

    if (! opened.handle)
        return isGone (opened.status) ? Kind::missing : Kind::other;

    // Ours: made by an elevated run (owned by Administrators, SYSTEM or
    // TrustedInstaller) in a folder in which no one else can put it there.
    if (ownedByUs != nullptr)
        *ownedByUs = hasTrustedOwner (native (opened.handle)) && isTrustedFolder (native (parent));

    return kindOfHandle (native (opened.handle));
}

Identity identityOf (const Handle& handle)
{
    // All 128 bits: on ReFS two objects may share the low 64.
    FILE_ID_INFO id {};

    if (! handle.isValid() || ! fileIdOf (native (handle), id))
        return {};

    Identity identity;
    identity.volume = id.VolumeSerialNumber;
    memcpy (&identity.object, id.FileId.Identifier, sizeof (identity.object));
    memcpy (&identity.objectHigh, id.FileId.Identifier + sizeof (identity.object), sizeof (identity.objectHigh));
    identity.valid = true;
    return identity;
}

Identity identityOf (const Handle& parent, const Name& name)
{
    const auto opened = openAt (parent, name, FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, 0);
    return identityOf (opened.handle);
}

juce::String lastingKeyOf (const Identity& identity)
{
    // A volume's serial number and a file's 128-bit id stay with the disk
    // across restarts and mounts.
    return juce::String::toHexString ((juce::int64) identity.volume) + "-" + juce::String::toHexString ((juce::int64) identity.object)
           + (identity.objectHigh != 0 ? "-" + juce::String::toHexString ((juce::int64) identity.objectHigh) : juce::String());
}

std::vector<Name> listNames (const Handle& folder)
{
    std::vector<Name> names;
    std::vector<char> buffer (64 * 1024);
    auto infoClass = FileIdBothDirectoryRestartInfo;

    // Through a handle of its own: a listing read earlier through the same
    // handle is not always read afresh, even when asked to start again.
    NTSTATUS status = 0;
    const auto fresh = openBelow (native (folder), {}, FILE_LIST_DIRECTORY, shareAll, FILE_OPEN, FILE_DIRECTORY_FILE, status);
    const auto h = fresh ? native (fresh) : native (folder);

    while (GetFileInformationByHandleEx (h, infoClass, buffer.data(), (DWORD) buffer.size()))
    {
        infoClass = FileIdBothDirectoryInfo;

        for (size_t offset = 0;;)
        {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*> (buffer.data() + offset);
            // The code units as they are: a name is not text until it has been checked.
            std::wstring name (reinterpret_cast<const wchar_t*> (entry->FileName),
                               (size_t) entry->FileNameLength / sizeof (WCHAR));

            if (name != L"." && name != L"..")
                names.push_back (Name::fromNative (std::move (name)));

            if (entry->NextEntryOffset == 0)
                break;

            offset += entry->NextEntryOffset;
        }
    }

    return names;
}

//==============================================================================
Handle createFile (const Handle& parent, const Name& name)
{
    constexpr ACCESS_MASK access = GENERIC_WRITE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    constexpr ULONG options = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY;

    auto opened = openAt (parent, name, access, FILE_SHARE_READ, FILE_CREATE, options);

    if (! opened.handle && opened.status == statusNameCollision)
    {
        // A repeated entry overwrites a file of the same name, never a folder or a link.
        if (kindOf (parent, name) != Kind::file || ! removeEntry (parent, name, false))
            return {};

        // Where deletion is not immediate, the old name may still be pending for a moment.
        whileBusy ([&]
        {
            opened = openAt (parent, name, access, FILE_SHARE_READ, FILE_CREATE, options);
            return opened.status;
        });
    }

    return std::move (opened.handle);
}

bool write (const Handle& file, const void* data, size_t size)
{
    const auto* p = static_cast<const char*> (data);

    while (size > 0)
    {
        const auto chunk = (DWORD) std::min (size, (size_t) (1u << 30));
        DWORD written = 0;

        if (! WriteFile (native (file), p, chunk, &written, nullptr) || written == 0)
            return false;

        p += written;
        size -= written;
    }

    return true;
}

bool setTimes (const Handle& file, juce::Time time)
{
    // 100 ns ticks since 1601-01-01.
    const auto ticks = (juce::uint64) (time.toMilliseconds() + 11644473600000LL) * 10000ULL;
    FILETIME t;
    t.dwLowDateTime = (DWORD) ticks;
    t.dwHighDateTime = (DWORD) (ticks >> 32);
    return SetFileTime (native (file), &t, &t, &t) != 0;
}

void startWriteback (const Handle& file)
{
    // No way to start it without waiting: flushed here, through the handle that
    // wrote it, so nothing has to open the file again to put it on the disk.
    FlushFileBuffers (native (file));
}

bool sync (const Handle& handle)
{
    // Folders cannot be flushed on Windows; their entries are written by the
    // file system itself. Files were flushed by their writer (startWriteback);
    // a handle that may write is flushed here too.
    const auto attributes = attributesOf (native (handle));

    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;

    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || FlushFileBuffers (native (handle)))
        return true;

    return GetLastError() == ERROR_ACCESS_DENIED;
}

bool syncFilesystem (const Handle& handle)
{
    // Flushing a whole volume needs its own handle and rights; staged files are flushed one by one instead.
    return handle.isValid();
}

//==============================================================================
Rename renameNoReplace (const Handle& fromFolder, const Name& from,
                        const Handle& toFolder, const Name& to)
{
    if (! isPlainName (from) || ! isPlainName (to) || ! toFolder.isValid())
        return Rename::failed;

    // A scanner holding the entry without delete sharing makes it busy for a moment.
    bool isFolder = false;
    const auto status = whileBusy ([&]
    {
        auto opened = openAt (fromFolder, from, DELETE | FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, 0);

        if (! opened.handle)
            return opened.status;

        isFolder = (attributesOf (native (opened.handle)) & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return renameTo (native (opened.handle), native (toFolder), to);
    });

    if (NT_SUCCESS (status))
        return Rename::done;

    SetLastError (RtlNtStatusToDosError (status));   // the caller's failure record reads it

    if (status == statusNameCollision)
        return Rename::exists;

    // Opened with DELETE, yet refused: Windows renames no folder while any
    // file below it is open (a host's, Explorer's, any reader's), and that
    // lasts until they close it, so it is not waited for.
    if (status == statusSharingViolation || (isFolder && status == statusAccessDenied))
    {
        RunLog::noteCause (RunLog::Cause::inUse);
        return Rename::inUse;
    }

    return Rename::failed;
}

bool isUnusedClaim (const Handle&, const Name&)
{
    // Renames here never replace what is at their destination: no name is claimed first.
    return false;
}

Rename exchange (const Handle&, const Name&, const Handle&, const Name&)
{
    // Windows cannot swap two entries in one step: the caller replaces in two renames.
    return Rename::unsupported;
}

bool deleteContents (const Handle& folder)
{
    return folder.isValid() && removeContents (folder, true);
}

bool deleteTree (const Handle& parent, const Name& name)
{
    if (! isPlainName (name))
        return false;

    removeEntry (parent, name, false);
    return kindOf (parent, name) == Kind::missing;
}

bool deleteWhole (const Handle& parent, const Name& name, bool* keptWhole)
{
    if (keptWhole != nullptr)
        *keptWhole = true;

    if (! isPlainName (name))
        return false;

    std::vector<Handle> marked;

    if (! markEveryFile (parent, name, marked))
    {
        // One file refused (a loaded module): every mark is taken back, so all of it stays.
        for (auto& h : marked)
            setDisposition (native (h), false);

        return false;
    }

    marked.clear();   // the marked files go as their handles close
    deleteTree (parent, name);
    return true;
}

bool removeFolder (const Handle& parent, const Name& name, Handle& expected)
{
    return isPlainName (name) && removeHeldFolder (parent, name, expected, true);
}

bool markCustomFolder (const Handle& parent, const Name& name)
{
    // Explorer reads a folder's desktop.ini only when the folder is read-only
    // or system, and the file itself should stay out of sight.
    const auto folder = openRealFolder (parent, name, shareAll, FILE_OPEN,
                                        FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);

    if (! folder)
        return true;

    auto ini = openAt (folder, "desktop.ini", FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll, FILE_OPEN,
                       FILE_NON_DIRECTORY_FILE);

    if (! ini.handle)
        return isGone (ini.status);

    return NT_SUCCESS (setAttributes (native (ini.handle), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0))
            && NT_SUCCESS (setAttributes (native (folder), FILE_ATTRIBUTE_READONLY, 0));
}

//==============================================================================
Handle openForReading (const Handle& parent, const Name& name)
{
    auto opened = openAt (parent, name, GENERIC_READ | FILE_READ_ATTRIBUTES | READ_CONTROL, shareAll, FILE_OPEN,
                          FILE_NON_DIRECTORY_FILE);

    // A plain disk file only: what it is gets checked on what we opened.
    if (! opened.handle || kindOfHandle (native (opened.handle)) != Kind::file)
        return {};

    return std::move (opened.handle);
}

Handle openForReading (const juce::File& file)
{
    const auto h = CreateFileW (file.getFullPathName().toWideCharPointer(), GENERIC_READ | READ_CONTROL, shareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

    if (h == INVALID_HANDLE_VALUE)
        return {};

    calls().opened (h, GENERIC_READ | READ_CONTROL);
    Handle opened ((std::intptr_t) h);
    return kindOfHandle (h) == Kind::file ? std::move (opened) : Handle();
}

juce::int64 sizeOf (const Handle& file)
{
    LARGE_INTEGER size {};
    return file.isValid() && GetFileSizeEx (native (file), &size) ? (juce::int64) size.QuadPart : -1;
}

bool readAt (const Handle& file, juce::uint64 offset, void* dest, size_t size)
{
    auto* p = static_cast<char*> (dest);

    while (size > 0)
    {
        OVERLAPPED at {};
        at.Offset = (DWORD) offset;
        at.OffsetHigh = (DWORD) (offset >> 32);
        DWORD n = 0;

        if (! ReadFile (native (file), p, (DWORD) std::min (size, (size_t) (1u << 30)), &n, &at) || n == 0)
            return false;

        p += n;
        size -= n;
        offset += n;
    }

    return true;
}

bool readSmallFile (const Handle& file, size_t maxSize, juce::MemoryBlock& content)
{
    const auto size = sizeOf (file);

    if (size < 0 || (juce::uint64) size > maxSize)
        return false;

    // One byte more than allowed tells a file that grew after the check.
    content.setSize (maxSize + 1);
    size_t total = 0;

    for (;;)
    {
        DWORD n = 0;

        if (! ReadFile (native (file), static_cast<char*> (content.getData()) + total, (DWORD) (maxSize + 1 - total), &n, nullptr))
            return false;

        if (n == 0)
            break;

        total += n;

        if (total > maxSize)
            return false;
    }

    content.setSize (total);
    return true;
}

void deleteOwnPlainFile (const juce::File&)
{
    // Windows has no leftover script: an elevated process deleting by path in
    // a user's temporary folder could only be steered by that user.
}

int deletionsLeftForRestart()
{
    return leftForRestart.load();
}
} // namespace FileOps
