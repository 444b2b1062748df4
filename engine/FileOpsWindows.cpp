#include "FileOps.h"
#include "SettingsTrust.h"

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

    const auto& wide = name.native();
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR> (reinterpret_cast<const WCHAR*> (wide.c_str()));
    objectName.Length = (USHORT) (wide.size() * sizeof (WCHAR));
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
Handle openRealFolder (const Handle& parent, const Name& name, ULONG share, ULONG disposition)
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
bool removeEntry (const Handle& folder, const Name& name)
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

    return CloseHandle ((HANDLE) release()) != 0;
}

//==============================================================================
Handle openTargetFolder (const juce::File& folder, bool createMissing, PathReport* report)
{
    // Stand-in until the path is walked one part at a time here too: the
    // configured path is opened as it stands, and only its absence is reported.
    PathReport ignored;
    auto& r = report != nullptr ? *report : ignored;
    r = {};

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
    {
        const auto error = GetLastError();
        r.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return {};
    }

    Handle result ((std::intptr_t) h);

    if ((attributesOf (h) & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        r.missing = true;
        return {};
    }

    return result;
}

bool onlyPrivilegedCanChange (const Handle& handle, bool)
{
    // Administrators' rule: owned by them, no write for ordinary accounts.
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (! handle.isValid()
         || GetSecurityInfo (native (handle), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;

    const bool trusted = SettingsTrust::isTrustedDescriptor (descriptor);
    LocalFree (descriptor);
    return trusted;
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

        // No delete sharing: while we hold it, no other run can open it to remove it.
        auto opened = openAt (parent, name, folderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                              FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_HIDDEN);

        if (opened.status == statusObjectNameCollision)
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
    // Our folder handles are opened for deletion, which only succeeds while no
    // other run holds that folder: having the handle is having the lock.
    return folder.isValid() ? Lock::taken : Lock::failed;
}

bool isOwnedByUs (const Handle& handle)
{
    return handle.isValid() && isOwnedByUs (native (handle));
}

Kind kindOf (const Handle& parent, const Name& name, bool* ownedByUs)
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

Identity identityOf (const Handle& handle)
{
    BY_HANDLE_FILE_INFORMATION info {};

    if (! handle.isValid() || ! GetFileInformationByHandle (native (handle), &info))
        return {};

    return { info.dwVolumeSerialNumber, ((juce::uint64) info.nFileIndexHigh << 32) | info.nFileIndexLow, true };
}

Identity identityOf (const Handle& parent, const Name& name)
{
    const auto opened = openAt (parent, name, FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, 0);
    return identityOf (opened.handle);
}

std::vector<Name> listNames (const Handle& folder)
{
    std::vector<Name> names;
    std::vector<char> buffer (64 * 1024);
    auto infoClass = FileIdBothDirectoryRestartInfo;

    while (GetFileInformationByHandleEx (native (folder), infoClass, buffer.data(), (DWORD) buffer.size()))
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
Rename renameNoReplace (const Handle& fromFolder, const Name& from,
                        const Handle& toFolder, const Name& to)
{
    if (! isPlainName (from) || ! isPlainName (to))
        return Rename::failed;

    auto opened = openAt (fromFolder, from, DELETE, shareAll, FILE_OPEN, 0);

    if (! opened.handle)
        return Rename::failed;

    const auto* wide = to.native().c_str();
    const auto nameBytes = to.native().size() * sizeof (WCHAR);
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

Rename exchange (const Handle&, const Name&, const Handle&, const Name&)
{
    // Windows cannot swap two entries in one step: the caller replaces in two renames.
    return Rename::unsupported;
}

bool deleteContents (const Handle& folder)
{
    return folder.isValid() && removeContents (folder);
}

bool deleteTree (const Handle& parent, const Name& name)
{
    if (! isPlainName (name))
        return false;

    removeEntry (parent, name);
    return kindOf (parent, name) == Kind::missing;
}

bool removeFolder (const Handle& parent, const Name& name, const Handle& expected)
{
    auto there = openAt (parent, name, FILE_READ_ATTRIBUTES, shareAll, FILE_OPEN, FILE_DIRECTORY_FILE);

    if (! there.handle || ! expected.isValid() || ! sameEntry (native (there.handle), native (expected)))
        return false;

    // Deleted when the last handle closes, ours included.
    return markForDeletion (native (expected));
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

void deleteOwnPlainFile (const juce::File& file)
{
    // The temporary folder is the user's own on Windows; only a plain file goes, never a link.
    const auto attributes = GetFileAttributesW (file.getFullPathName().toWideCharPointer());

    if (attributes != INVALID_FILE_ATTRIBUTES
         && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
        DeleteFileW (file.getFullPathName().toWideCharPointer());
}
} // namespace FileOps
