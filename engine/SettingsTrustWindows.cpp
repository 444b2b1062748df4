#include "SettingsTrust.h"

#include <windows.h>
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
        return ! bytes.empty() && other != nullptr && EqualSid (const_cast<BYTE*> (bytes.data()), other);
    }
};

const wchar_t* const trustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

/** This process's own account, when it is an administrator (the program runs elevated). */
bool isOurAdministratorAccount (PSID owner)
{
    HANDLE token = nullptr;

    if (! OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;

    DWORD size = 0;
    GetTokenInformation (token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user (size);
    const bool isUser = size != 0 && GetTokenInformation (token, TokenUser, user.data(), size, &size)
                         && EqualSid (reinterpret_cast<TOKEN_USER*> (user.data())->User.Sid, owner);
    CloseHandle (token);

    const WellKnown administrators (WinBuiltinAdministratorsSid);
    BOOL isMember = FALSE;

    return isUser && ! administrators.bytes.empty()
            && CheckTokenMembership (nullptr, const_cast<BYTE*> (administrators.bytes.data()), &isMember)
            && isMember;
}

bool isTrustedOwner (PSID owner)
{
    static const WellKnown administrators (WinBuiltinAdministratorsSid), system (WinLocalSystemSid),
                           installer (trustedInstaller);

    return administrators.is (owner) || system.is (owner) || installer.is (owner) || isOurAdministratorAccount (owner);
}

bool isEveryUser (PSID sid)
{
    static const WellKnown users (WinBuiltinUsersSid), authenticated (WinAuthenticatedUserSid),
                           everyone (WinWorldSid), interactive (WinInteractiveSid);

    return users.is (sid) || authenticated.is (sid) || everyone.is (sid) || interactive.is (sid);
}

// Writing or appending data (adding files or folders, for a folder), deleting
// the entry or its children, changing its permissions or owner.
constexpr ACCESS_MASK changingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE
                                        | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
} // namespace

bool isTrustedDescriptor (const void* securityDescriptor)
{
    auto* descriptor = const_cast<void*> (securityDescriptor);
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;

    if (descriptor == nullptr || ! IsValidSecurityDescriptor (descriptor)
         || ! GetSecurityDescriptorOwner (descriptor, &owner, &defaulted) || ! isTrustedOwner (owner)
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

        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            continue;

        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*> (ace);

        if ((allowed->Mask & changingRights) != 0 && isEveryUser ((PSID) &allowed->SidStart))
            return false;
    }

    return true;
}

bool isTrusted (const juce::File& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const auto result = GetNamedSecurityInfoW (path.getFullPathName().toWideCharPointer(), SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, nullptr, nullptr, &descriptor);

    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
        return true;

    const bool trusted = result == ERROR_SUCCESS && isTrustedDescriptor (descriptor);
    LocalFree (descriptor);
    return trusted;
}
} // namespace SettingsTrust
