#include "FileOps.h"

#include <windows.h>
#include <winternl.h>
#include <aclapi.h>

#include <vector>

// Below a target folder every name is opened relative to an open folder handle
// through the native API (NtCreateFile with a root directory), and never
// through a reparse point, so a junction or link planted in a bundle cannot
// steer our writes, renames or deletions outside it.
namespace FileOps
{
namespace
{
constexpr NTSTATUS statusObjectNameCollision = (NTSTATUS) 0xC0000035L;

constexpr ULONG shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Our folder handles carry DELETE: opening one fails while another run holds
// that folder open without delete sharing, which is how a staging folder stays
// locked (see createStagingFolder).
constexpr ACCESS_MASK folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY
                                      | FILE_READ_ATTRIBUTES | READ_CONTROL | DELETE | SYNCHRONIZE;

HANDLE native (const Handle& h) noexcept   { return (HANDLE) h.native(); }

/** A name for one step below a folder: no separators, no stream or drive part, no "." or "..". */
bool isPlainName (const juce::String& name)
{
    return name.isNotEmpty() && name != "." && name != ".."
            && ! name.containsAnyOf ("/\\:") && ! name.containsChar (0);
}

struct OpenResult
{
    Handle handle;
    NTSTATUS status = 0;
};

/** NtCreateFile of one name below parent; the entry itself is opened, never what a reparse point names. */
OpenResult openAt (const Handle& parent, const juce::String& name, ACCESS_MASK access,
                   ULONG share, ULONG disposition, ULONG options, ULONG attributes = FILE_ATTRIBUTE_NORMAL)
{
    OpenResult result;

    if (! parent.isValid() || ! isPlainName (name))
    {
        result.status = (NTSTATUS) 0xC0000033L;   // object name invalid
        return result;
    }

    const auto* wide = name.toWideCharPointer();
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR> (reinterpret_cast<const WCHAR*> (wide));
    objectName.Length = (USHORT) (wcslen (wide) * sizeof (WCHAR));
    objectName.MaximumLength = objectName.Length;

    OBJECT_ATTRIBUTES objectAttributes;
    InitializeObjectAttributes (&objectAttributes, &objectName, OBJ_CASE_INSENSITIVE, native (parent), nullptr);

    IO_STATUS_BLOCK io {};
    HANDLE h = INVALID_HANDLE_VALUE;
    result.status = NtCreateFile (&h, access | SYNCHRONIZE, &objectAttributes, &io, nullptr, attributes, share,
                                  disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                                  nullptr, 0);

    if (NT_SUCCESS (result.status) && h != nullptr && h != INVALID_HANDLE_VALUE)
        result.handle = Handle ((std::intptr_t) h);
    else
        SetLastError (RtlNtStatusToDosError (result.status));   // the caller's failure record reads it

    return result;
}

DWORD attributesOf (HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO info {};
    return GetFileInformationByHandleEx (h, FileAttributeTagInfo, &info, sizeof (info)) ? info.FileAttributes
                                                                                         : INVALID_FILE_ATTRIBUTES;
}

bool isRealFolder (HANDLE h)
{
    const auto attributes = attributesOf (h);
    return attributes != INVALID_FILE_ATTRIBUTES
            && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
            && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

/** Opens a real folder below parent (not a junction or link), or nothing. */
Handle openRealFolder (const Handle& parent, const juce::String& name, ULONG share, ULONG disposition)
{
    auto opened = openAt (parent, name, folderAccess, share, disposition, FILE_DIRECTORY_FILE);

    if (opened.handle && ! isRealFolder (native (opened.handle)))
        return {};

    return std::move (opened.handle);
}

bool sameEntry (HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION x {}, y {};
    return GetFileInformationByHandle (a, &x) && GetFileInformationByHandle (b, &y)
            && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber
            && x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

/** Marks an open entry for deletion; it goes when its last handle closes. */
bool markForDeletion (HANDLE h)
{
    FILE_DISPOSITION_INFO disposition {};
    disposition.DeleteFile = TRUE;

    if (SetFileInformationByHandle (h, FileDispositionInfo, &disposition, sizeof (disposition)))
        return true;

    // A read-only file cannot be deleted until that attribute is cleared.
    FILE_BASIC_INFO basic {};

    if (! GetFileInformationByHandleEx (h, FileBasicInfo, &basic, sizeof (basic))
         || (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return false;

    basic.FileAttributes &= ~(DWORD) FILE_ATTRIBUTE_READONLY;

    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;

    return SetFileInformationByHandle (h, FileBasicInfo, &basic, sizeof (basic))
            && SetFileInformationByHandle (h, FileDispositionInfo, &disposition, sizeof (disposition));
}

bool removeContents (const Handle& folder);

/** Deletes one entry below folder: a file or a reparse point goes as it is,
    a real folder is emptied through its own handle first. */
bool removeEntry (const Handle& folder, const juce::String& name)
{
    auto opened = openAt (folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY,
                          shareAll, FILE_OPEN, 0);

    if (! opened.handle)
        return opened.status == (NTSTATUS) 0xC0000034L;   // object name not found: already gone

    if (isRealFolder (native (opened.handle)) && ! removeContents (opened.handle))
        return false;

    return markForDeletion (native (opened.handle));
}

bool removeContents (const Handle& folder)
{
    bool ok = true;

    for (const auto& name : listNames (folder))
        ok = removeEntry (folder, name) && ok;

    return ok;
}

Rename renameResult (NTSTATUS status)
{
    if (NT_SUCCESS (status))
        return Rename::done;

    SetLastError (RtlNtStatusToDosError (status));
    return status == statusObjectNameCollision ? Rename::exists : Rename::failed;
}

/** The owner of entries this process creates: elevated, that is Administrators. */
bool isOurOwner (PSID owner)
{
    HANDLE token = nullptr;

    if (owner == nullptr || ! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;

    bool ours = false;

    for (auto infoClass : { TokenOwner, TokenUser })
    {
        DWORD size = 0;
        GetTokenInformation (token, infoClass, nullptr, 0, &size);
        std::vector<char> buffer (size);

        if (size == 0 || ! GetTokenInformation (token, infoClass, buffer.data(), size, &size))
            continue;

        const auto sid = infoClass == TokenOwner ? reinterpret_cast<TOKEN_OWNER*> (buffer.data())->Owner
                                                 : reinterpret_cast<TOKEN_USER*> (buffer.data())->User.Sid;
        ours = ours || EqualSid (sid, owner);
    }

    CloseHandle (token);
    return ours;
}

bool isOwnedByUs (HANDLE h)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (GetSecurityInfo (h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor)
         != ERROR_SUCCESS)
        return false;

    const bool ours = isOurOwner (owner);
    LocalFree (descriptor);
    return ours;
}

Kind kindOfHandle (HANDLE h)
{
    const auto attributes = attributesOf (h);

    if (attributes == INVALID_FILE_ATTRIBUTES)  return Kind::other;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)  return Kind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)  return Kind::folder;
    return GetFileType (h) == FILE_TYPE_DISK ? Kind::file : Kind::other;
}

juce::String randomSuffix()
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    juce::String suffix;

    for (int i = 0; i < 6; ++i)
        suffix << alphabet[juce::Random::getSystemRandom().nextInt ((int) sizeof (alphabet) - 1)];

    return suffix;
}
} // namespace

//==============================================================================
bool Handle::close()
{
    if (! isValid())
        return true;

    return CloseHandle ((HANDLE) release()) != 0;
}

//==============================================================================
Handle openTargetFolder (const juce::File& folder, bool createMissing)
{
    const auto path = folder.getFullPathName();

    if (! juce::File::isAbsolutePath (path))
        return {};

    // The configured path is trusted as it stands, links included.
    if (createMissing && ! folder.isDirectory())
        folder.createDirectory();

    const auto h = CreateFileW (path.toWideCharPointer(),
                                FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY
                                    | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                                shareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);

    if (h == INVALID_HANDLE_VALUE)
        return {};

    Handle result ((std::intptr_t) h);

    if ((attributesOf (h) & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return {};

    return result;
}

Handle openFolder (const Handle& parent, const juce::String& name)
{
    return openRealFolder (parent, name, shareAll, FILE_OPEN);
}

Handle makeFolder (const Handle& parent, const juce::String& name)
{
    return openRealFolder (parent, name, shareAll, FILE_OPEN_IF);
}

Handle createStagingFolder (const Handle& parent, const juce::String& prefix, juce::String& nameOut)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const auto name = prefix + randomSuffix();

        // No delete sharing: while we hold it, no other run can open it to remove it.
        auto opened = openAt (parent, name, folderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                              FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_HIDDEN);

        if (opened.status == statusObjectNameCollision)
            continue;

        if (! opened.handle)
            return {};

        nameOut = name;
        return std::move (opened.handle);
    }

    return {};
}

bool tryLock (const Handle& folder)
{
    // Our folder handles are opened for deletion, which only succeeds while no
    // other run holds that folder: having the handle is having the lock.
    return folder.isValid();
}

bool isOwnedByUs (const Handle& handle)
{
    return handle.isValid() && isOwnedByUs (native (handle));
}

Kind kindOf (const Handle& parent, const juce::String& name, bool* ownedByUs)
{
    if (ownedByUs != nullptr)
        *ownedByUs = false;

    auto opened = openAt (parent, name, FILE_READ_ATTRIBUTES | READ_CONTROL, shareAll, FILE_OPEN, 0);

    if (! opened.handle)
    {
        const auto status = (unsigned long) opened.status;
        return status == 0xC0000034UL || status == 0xC000003AUL ? Kind::missing : Kind::other;
    }

    if (ownedByUs != nullptr)
        *ownedByUs = isOwnedByUs (native (opened.handle));

    return kindOfHandle (native (opened.handle));
}

Kind kindOf (const juce::File& path)
{
    const auto attributes = GetFileAttributesW (path.getFullPathName().toWideCharPointer());

    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        const auto error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::missing : Kind::other;
    }

    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)  return Kind::link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)      return Kind::folder;
    return Kind::file;
}

juce::StringArray listNames (const Handle& folder)
{
    juce::StringArray names;
    std::vector<char> buffer (64 * 1024);
    auto infoClass = FileIdBothDirectoryRestartInfo;

    while (GetFileInformationByHandleEx (native (folder), infoClass, buffer.data(), (DWORD) buffer.size()))
    {
        infoClass = FileIdBothDirectoryInfo;

        for (size_t offset = 0;;)
        {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*> (buffer.data() + offset);
            const juce::String name (reinterpret_cast<const wchar_t*> (entry->FileName),
                                     (size_t) entry->FileNameLength / sizeof (WCHAR));

            if (name != "." && name != "..")
                names.add (name);

            if (entry->NextEntryOffset == 0)
                break;

            offset += entry->NextEntryOffset;
        }
    }

    return names;
}

//==============================================================================
Handle createFile (const Handle& parent, const juce::String& name)
{
    constexpr ACCESS_MASK access = GENERIC_WRITE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    constexpr ULONG options = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY;

    auto opened = openAt (parent, name, access, FILE_SHARE_READ, FILE_CREATE, options);

    if (! opened.handle && opened.status == statusObjectNameCollision)
    {
        // A repeated entry overwrites a file of the same name, never a folder or a link.
        if (kindOf (parent, name) != Kind::file || ! removeEntry (parent, name))
            return {};

        opened = openAt (parent, name, access, FILE_SHARE_READ, FILE_CREATE, options);
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

Handle openFile (const Handle& parent, const juce::String& name)
{
    // FlushFileBuffers needs write access.
    auto opened = openAt (parent, name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE);

    if (opened.handle && (attributesOf (native (opened.handle)) & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return {};

    return std::move (opened.handle);
}

void startWriteback (const Handle&)
{
    // No way to start it without waiting here: the sync before the swap does it all.
}

bool sync (const Handle& handle)
{
    // Folders cannot be flushed on Windows; their entries are written by the file system itself.
    if ((attributesOf (native (handle)) & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return true;

    return FlushFileBuffers (native (handle)) != 0;
}

bool syncFilesystem (const Handle& handle)
{
    // Flushing a whole volume needs its own handle and rights; staged files are flushed one by one instead.
    return handle.isValid();
}

//==============================================================================
Rename renameNoReplace (const Handle& fromFolder, const juce::String& from,
                        const Handle& toFolder, const juce::String& to)
{
    if (! isPlainName (from) || ! isPlainName (to))
        return Rename::failed;

    auto opened = openAt (fromFolder, from, DELETE, shareAll, FILE_OPEN, 0);

    if (! opened.handle)
        return Rename::failed;

    const auto* wide = to.toWideCharPointer();
    const auto nameBytes = wcslen (wide) * sizeof (WCHAR);
    std::vector<char> buffer (sizeof (FILE_RENAME_INFORMATION) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*> (buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = native (toFolder);
    info->FileNameLength = (ULONG) nameBytes;
    memcpy (info->FileName, wide, nameBytes);

    IO_STATUS_BLOCK io {};
    return renameResult (NtSetInformationFile (native (opened.handle), &io, info, (ULONG) buffer.size(),
                                               FileRenameInformation));
}

Rename exchange (const Handle&, const juce::String&, const Handle&, const juce::String&)
{
    // Windows cannot swap two entries in one step: the caller replaces in two renames.
    return Rename::unsupported;
}

bool deleteContents (const Handle& folder)
{
    return folder.isValid() && removeContents (folder);
}

bool deleteTree (const Handle& parent, const juce::String& name)
{
    if (! isPlainName (name))
        return false;

    removeEntry (parent, name);
    return kindOf (parent, name) == Kind::missing;
}

bool removeFolder (const Handle& parent, const juce::String& name, const Handle& expected)
{
    auto there = openAt (parent, name, FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, FILE_DIRECTORY_FILE);

    if (! there.handle || ! expected.isValid() || ! sameEntry (native (there.handle), native (expected)))
        return false;

    // Deleted when the last handle closes, ours included.
    return markForDeletion (native (expected));
}

//==============================================================================
bool readSmallFile (const juce::File& file, size_t maxSize, juce::MemoryBlock& content)
{
    const auto h = CreateFileW (file.getFullPathName().toWideCharPointer(), GENERIC_READ, shareAll, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

    if (h == INVALID_HANDLE_VALUE)
        return false;

    const Handle owner ((std::intptr_t) h);
    LARGE_INTEGER size {};

    // A plain disk file only: what it is gets checked on what we opened.
    if (kindOfHandle (h) != Kind::file || ! GetFileSizeEx (h, &size)
         || size.QuadPart < 0 || (juce::uint64) size.QuadPart > maxSize)
        return false;

    // One byte more than allowed tells a file that grew after the check.
    content.setSize (maxSize + 1);
    size_t total = 0;

    for (;;)
    {
        DWORD n = 0;

        if (! ReadFile (h, static_cast<char*> (content.getData()) + total, (DWORD) (maxSize + 1 - total), &n, nullptr))
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

void deleteOwnPlainFile (const juce::File& file)
{
    // The temporary folder is the user's own on Windows; only a plain file goes, never a link.
    const auto attributes = GetFileAttributesW (file.getFullPathName().toWideCharPointer());

    if (attributes != INVALID_FILE_ATTRIBUTES
         && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
        DeleteFileW (file.getFullPathName().toWideCharPointer());
}
} // namespace FileOps
