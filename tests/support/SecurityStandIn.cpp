#include "SecurityStandIn.h"

#if JUCE_WINDOWS
 #include "KitSupport.h"
 #include "WindowsCalls.h"

 #include <aclapi.h>
 #include <sddl.h>

 #include <map>
 #include <vector>

namespace SecurityStandIn
{
namespace
{
// By the entry's full path: test folders have fresh names, while a file id
// may be taken again by the next file once its entry is gone.
using Id = juce::String;

Id idOf (HANDLE h)
{
    std::vector<WCHAR> path (32768);
    const auto n = GetFinalPathNameByHandleW (h, path.data(), (DWORD) path.size(), FILE_NAME_NORMALIZED);
    return n > 0 && n < path.size() ? juce::String (path.data(), (size_t) n).toLowerCase() : juce::String();
}

Id idOf (const juce::File& f)
{
    const auto h = CreateFileW (f.getFullPathName().toWideCharPointer(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const auto id = idOf (h);
    CloseHandle (h);
    return id;
}

std::map<Id, juce::String>& given()
{
    static std::map<Id, juce::String> descriptors;
    return descriptors;
}

PSECURITY_DESCRIPTOR fromSddl (const juce::String& sddl)
{
    PSECURITY_DESCRIPTOR d = nullptr;
    return ConvertStringSecurityDescriptorToSecurityDescriptorW (sddl.toWideCharPointer(), SDDL_REVISION_1, &d, nullptr) ? d : nullptr;
}

juce::String toSddl (PSECURITY_DESCRIPTOR d)
{
    LPWSTR text = nullptr;

    if (d == nullptr || ! ConvertSecurityDescriptorToStringSecurityDescriptorW (d, SDDL_REVISION_1,
                                                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                                               &text, nullptr))
        return {};

    const juce::String result (text);
    LocalFree (text);
    return result;
}

void setOnFile (const juce::File& f, const juce::String& sddl)
{
    const auto d = fromSddl (sddl);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;

    if (d == nullptr)
        return;

    GetSecurityDescriptorOwner (d, &owner, &defaulted);
    GetSecurityDescriptorDacl (d, &present, &dacl, &defaulted);
    GetSecurityDescriptorControl (d, &control, &revision);

    SECURITY_INFORMATION what = 0;
    if (owner != nullptr)  what |= OWNER_SECURITY_INFORMATION;
    if (present)           what |= DACL_SECURITY_INFORMATION
                                   | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                         : UNPROTECTED_DACL_SECURITY_INFORMATION);

    SetNamedSecurityInfoW (const_cast<wchar_t*> (f.getFullPathName().toWideCharPointer()), SE_FILE_OBJECT,
                           what, owner, nullptr, dacl, nullptr);
    LocalFree (d);
}
} // namespace

juce::String tokenUser()
{
    HANDLE token = nullptr;
    juce::String text;

    if (OpenProcessToken (GetCurrentProcess(), TOKEN_QUERY, &token))
    {
        DWORD size = 0;
        GetTokenInformation (token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> user (size);
        LPWSTR sid = nullptr;

        if (size != 0 && GetTokenInformation (token, TokenUser, user.data(), size, &size)
             && ConvertSidToStringSidW (reinterpret_cast<TOKEN_USER*> (user.data())->User.Sid, &sid))
        {
            text = juce::String (sid);
            LocalFree (sid);
        }

        CloseHandle (token);
    }

    return text;
}

bool systemKeepsDescriptors()
{
    static const bool keeps = []
    {
        const auto probe = juce::File::getSpecialLocation (juce::File::tempDirectory)
                               .getNonexistentChildFile ("oh_descriptor_probe", ".txt");
        probe.create();
        setOnFile (probe, "O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)");

        PSECURITY_DESCRIPTOR d = nullptr;
        GetNamedSecurityInfoW (probe.getFullPathName().toWideCharPointer(), SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &d);
        const auto kept = toSddl (d).startsWith ("O:BA");
        LocalFree (d);
        probe.deleteFile();
        return kept;
    }();

    return keeps;
}

void apply (const juce::File& f, const juce::String& sddl)
{
    if (systemKeepsDescriptors())
    {
        setOnFile (f, sddl);
        return;
    }

    // Only an owner given: the list stays what it is.
    auto text = sddl;

    if (! text.contains ("D:"))
    {
        const auto h = CreateFileW (f.getFullPathName().toWideCharPointer(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const auto current = WindowsCalls::calls().security (h);
        CloseHandle (h);
        const auto currentText = toSddl (current);
        LocalFree (current);
        text << currentText.fromFirstOccurrenceOf ("D:", true, false);
    }

    if (const auto id = idOf (f); id.isNotEmpty())
        given()[id] = text;
}

void installWhereNeeded()
{
    // Only for Wine. On a real Windows an unelevated run cannot give files the
    // administrators' descriptors either, and a stand-in would then pass for
    // Windows' security: such a run fails, as it should.
    if (systemKeepsDescriptors() || ! KitSupport::isWine())
        return;

    const auto user = tokenUser();

    // What the engine creates with a descriptor of its own has that one on Windows.
    WindowsCalls::calls().created = [] (HANDLE h, PSECURITY_DESCRIPTOR descriptor)
    {
        if (const auto id = idOf (h); id.isNotEmpty())
            given()[id] = toSddl (descriptor);
    };

    WindowsCalls::calls().security = [user, system = WindowsCalls::systemCalls().security] (HANDLE h) -> PSECURITY_DESCRIPTOR
    {
        const auto id = idOf (h);
        const auto found = id.isEmpty() ? given().end() : given().find (id);

        if (found != given().end())
            return fromSddl (found->second);

        // Made by this (administrator's) process: on Windows owned by Administrators.
        const auto real = system (h);
        const auto text = toSddl (real);
        LocalFree (real);
        return text.isEmpty() ? nullptr : fromSddl (text.replace (user, "BA"));
    };
}
} // namespace SecurityStandIn
#endif
