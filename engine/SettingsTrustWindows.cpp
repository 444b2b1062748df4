#include "SettingsTrust.h"
#include "WindowsCalls.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace SettingsTrust
{
namespace
{
struct WellKnown
{
    std::vector<BYTE> bytes;

    explicit WellKnown (WELL_KNOWN_SID_TYPE type) : bytes (SECURITY_MAX_SID_SIZE)
    {
        DWORD size = (DWORD) bytes.size();

        if (! CreateWellKnownSid (type, nullptr, bytes.data(), &size))
            bytes.clear();
    }

    explicit WellKnown (const wchar_t* text)
    {
        PSID sid = nullptr;

        if (ConvertStringSidToSidW (text, &sid))
        {
            const auto* b = static_cast<const BYTE*> (sid);
            bytes.assign (b, b + GetLengthSid (sid));
            LocalFree (sid);
        }
    }

    bool is (PSID other) const
    {
        return ! bytes.empty() && other != nullptr && IsValidSid (other)
                && EqualSid (const_cast<BYTE*> (bytes.data()), other);
    }
};

/** Administrators, SYSTEM, TrustedInstaller: the only accounts that may own
    or change what steers an elevated run. The token's own user is not one of
    them: its unelevated programs create objects with that owner too. */
bool isTrustedSid (PSID sid)
{
    static const WellKnown administrators (WinBuiltinAdministratorsSid), system (WinLocalSystemSid),
        installer (L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");

    return administrators.is (sid) || system.is (sid) || installer.is (sid);
}

// Writing or appending data (adding files or folders, for a folder), deleting
// the entry or its children, changing its permissions or owner.
constexpr ACCESS_MASK fileChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE
                                          | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Deleting, renaming or re-permissioning entries, or the folder itself.
constexpr ACCESS_MASK folderChangeRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

/** The account an allow entry names and the rights it gives, or nullptr for
    any other entry; unknownKind for an entry this code cannot read. */
PSID allowedSid (const ACE_HEADER* header, ACCESS_MASK& mask, bool& unknownKind)
{
    unknownKind = false;
    const auto* bytes = reinterpret_cast<const BYTE*> (header);

    switch (header->AceType)
    {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
            mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*> (header)->Mask;
            return (PSID) &reinterpret_cast<const ACCESS_ALLOWED_ACE*> (header)->SidStart;

        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        {
            // Mask, flags, then each object type only when its flag says it is there.
            const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*> (header);
            mask = ace->Mask;
            size_t offset = sizeof (ACE_HEADER) + sizeof (ACCESS_MASK) + sizeof (DWORD);
            offset += (ace->Flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof (GUID) : 0;
            offset += (ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof (GUID) : 0;
            return offset + sizeof (SID) <= header->AceSize ? (PSID) (bytes + offset) : nullptr;
        }

        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        case SYSTEM_AUDIT_ACE_TYPE:
        case SYSTEM_ALARM_ACE_TYPE:
        case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
        case SYSTEM_ALARM_OBJECT_ACE_TYPE:
        case SYSTEM_AUDIT_CALLBACK_ACE_TYPE:
        case SYSTEM_ALARM_CALLBACK_ACE_TYPE:
        case SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE:
        case SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE:
        case SYSTEM_MANDATORY_LABEL_ACE_TYPE:
        case 0x12:   // resource attribute
        case 0x13:   // scoped policy id
        case 0x14:   // process trust label
        case 0x15:   // access filter
            return nullptr;

        default:
            // Compound entries and kinds newer than this code: treated as allowing anyone.
            unknownKind = true;
            return nullptr;
    }
}

/** A trusted owner, and no allow entry that applies to the object itself gives
    any of changeRights to an account other than the three. Deny entries are not
    weighed: a deny for a group leaves out accounts outside it, and an allow
    counts whatever precedes it. */
bool isLockedDown (const void* securityDescriptor, ACCESS_MASK changeRights)
{
    auto* descriptor = const_cast<void*> (securityDescriptor);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;

    if (! hasTrustedOwner (securityDescriptor)
         || ! GetSecurityDescriptorDacl (descriptor, &present, &dacl, &defaulted))
        return false;

    // No list at all lets everyone do everything.
    if (! present || dacl == nullptr)
        return false;

    for (DWORD i = 0; i < dacl->AceCount; ++i)
    {
        void* ace = nullptr;

        if (! GetAce (dacl, i, &ace))
            return false;

        const auto* header = static_cast<const ACE_HEADER*> (ace);

        // Entries only for what is created inside later do not apply to this entry itself.
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;

        ACCESS_MASK mask = 0;
        bool unknownKind = false;
        const auto sid = allowedSid (header, mask, unknownKind);

        if (unknownKind)
            return false;

        if (sid != nullptr && (mask & changeRights) != 0 && ! isTrustedSid (sid))
            return false;
    }

    return true;
}

/** Reads all of an open file of at most maxSize bytes. */
bool readAll (HANDLE h, size_t maxSize, juce::MemoryBlock& content)
{
    LARGE_INTEGER size {};

    if (! GetFileSizeEx (h, &size) || size.QuadPart < 0 || (juce::uint64) size.QuadPart > maxSize)
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

bool markForDeletion (HANDLE h)
{
    FILE_DISPOSITION_INFO disposition {};
    disposition.DeleteFile = TRUE;
    return NT_SUCCESS (WindowsCalls::calls().setInformation (h, &disposition, sizeof (disposition),
                                                             WindowsCalls::dispositionInformation));
}

/** Writes the defaults under a fresh name, owned by Administrators with an
    explicit administrators-and-SYSTEM-only list (read for Users), puts them on
    the disk through the handle that wrote them, then gives the file its name
    without replacing anything: a file planted meanwhile is never adopted, and
    a power cut leaves the whole file or none under that name. */
bool createNew (HANDLE folder, const juce::String& fileName, const juce::MemoryBlock& bytes)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (! ConvertStringSecurityDescriptorToSecurityDescriptorW (L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;BU)",
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return false;

    const auto temporaryName = fileName + ".oh-new-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64());
    NTSTATUS status = 0;
    auto file = WindowsCalls::openBelow (folder, temporaryName, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                         FILE_NON_DIRECTORY_FILE, status, FILE_ATTRIBUTE_NORMAL, descriptor);
    LocalFree (descriptor);

    if (! file)
        return false;

    const auto h = (HANDLE) file.native();
    DWORD written = 0;
    bool ok = WriteFile (h, bytes.getData(), (DWORD) bytes.getSize(), &written, nullptr)
               && written == (DWORD) bytes.getSize()
               && FlushFileBuffers (h);

    if (ok)
    {
        ok = NT_SUCCESS (WindowsCalls::renameTo (h, folder, fileName));
    }

    if (! ok)
        markForDeletion (h);

    return file.close() && ok;
}
} // namespace

//==============================================================================
bool hasTrustedOwner (const void* securityDescriptor)
{
    auto* descriptor = const_cast<void*> (securityDescriptor);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;

    return descriptor != nullptr && IsValidSecurityDescriptor (descriptor)
            && GetSecurityDescriptorOwner (descriptor, &owner, &defaulted) && isTrustedSid (owner);
}

bool isTrustedDescriptor (const void* securityDescriptor)
{
    return isLockedDown (securityDescriptor, fileChangeRights);
}

bool isTrustedFolderDescriptor (const void* securityDescriptor)
{
    return isLockedDown (securityDescriptor, folderChangeRights);
}

bool isPrivateDescriptor (const void* securityDescriptor)
{
    return isLockedDown (securityDescriptor, ~(ACCESS_MASK) 0);
}

Stored readOrCreate (const juce::File& folder, const juce::String& fileName, size_t maxSize,
                     juce::MemoryBlock& content, const juce::MemoryBlock& defaults)
{
    // Opened once, a junction or link at its name refused; everything after
    // goes through this handle, so what was checked is what is read or written.
    const auto dir = WindowsCalls::openFolderByPath (folder, FILE_LIST_DIRECTORY | FILE_TRAVERSE
                                                                 | FILE_READ_ATTRIBUTES | READ_CONTROL);

    if (! dir || ! WindowsCalls::securityPasses ((HANDLE) dir.native(), isTrustedFolderDescriptor))
        return Stored::ignored;

    NTSTATUS status = 0;
    const auto file = WindowsCalls::openBelow ((HANDLE) dir.native(), fileName, GENERIC_READ | READ_CONTROL,
                                               FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, status);

    if (file)
    {
        const auto h = (HANDLE) file.native();
        const auto attributes = WindowsCalls::attributesOf (h);

        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0
                && GetFileType (h) == FILE_TYPE_DISK && WindowsCalls::securityPasses (h, isTrustedDescriptor)
                && readAll (h, maxSize, content)
                   ? Stored::read : Stored::ignored;
    }

    // Only where nothing at all is in the way: a folder, a link or an entry we
    // cannot open under the file's name is left alone.
    if (status != WindowsCalls::statusNameNotFound)
        return Stored::ignored;

    return createNew ((HANDLE) dir.native(), fileName, defaults) ? Stored::created : Stored::ignored;
}

void makeFolderIfMissing (const juce::File& folder)
{
    const auto parent = WindowsCalls::openFolderByPath (folder.getParentDirectory(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY);

    if (! parent)
        return;

    // Protected, so nothing of ProgramData's list (Users may add) is inherited.
    PSECURITY_DESCRIPTOR descriptor = nullptr;

    if (! ConvertStringSecurityDescriptorToSecurityDescriptorW (L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)",
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return;

    NTSTATUS status = 0;
    WindowsCalls::openBelow ((HANDLE) parent.native(), folder.getFileName(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             FILE_CREATE, FILE_DIRECTORY_FILE, status, FILE_ATTRIBUTE_NORMAL, descriptor);
    LocalFree (descriptor);
}

bool processIsElevated()
{
    HANDLE token = nullptr;

    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;

    TOKEN_ELEVATION elevation {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation (token, TokenElevation, &elevation, sizeof (elevation), &size)
                          && elevation.TokenIsElevated != 0;
    CloseHandle (token);
    return elevated;
}
} // namespace SettingsTrust
