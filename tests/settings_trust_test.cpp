#include "Settings.h"
#include "SettingsTrust.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#if JUCE_WINDOWS
 #include <windows.h>
 #include <aclapi.h>
 #include <sddl.h>

// The elevated program lets the settings steer it only when no one but
// administrators can change the file or its folder.
namespace
{
struct Descriptor
{
    explicit Descriptor (const wchar_t* sddl)
    {
        EXPECT_TRUE (ConvertStringSecurityDescriptorToSecurityDescriptorW (sddl, SDDL_REVISION_1, &data, nullptr)) << sddl;
    }

    ~Descriptor()  { LocalFree (data); }

    PSECURITY_DESCRIPTOR data = nullptr;
};
}

TEST (SettingsTrust, OwnersAndAccessListsTable)
{
    struct Case { const wchar_t* sddl; bool trusted; const char* what; };

    const Case cases[] = {
        { L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)",          true,  "administrators' own, users may read" },
        { L"O:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)",                       true,  "owned by SYSTEM" },
        { L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)", true, "owned by TrustedInstaller" },
        { L"O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)",                             true,  "a deny entry takes nothing away" },
        { L"O:BAD:(A;OICIIO;FA;;;BU)(A;;FA;;;BA)",                       true,  "an entry only for what is created inside" },
        { L"O:BAD:(A;;FA;;;S-1-5-21-1111-2222-3333-1001)",               true,  "another named account, not every user" },
        { L"O:S-1-5-21-1111-2222-3333-1001D:(A;;FA;;;SY)",               false, "owned by another user" },
        { L"O:BUD:(A;;FA;;;SY)",                                         false, "owned by Users" },
        { L"O:BA",                                                       false, "no access list" },
        { L"O:BAD:(A;;0x2;;;BU)",                                        false, "Users may write data or add files" },
        { L"O:BAD:(A;;0x4;;;AU)",                                        false, "Authenticated Users may append or add folders" },
        { L"O:BAD:(A;;SD;;;WD)",                                         false, "Everyone may delete" },
        { L"O:BAD:(A;;0x40;;;BU)",                                       false, "Users may delete children" },
        { L"O:BAD:(A;;WO;;;IU)",                                         false, "Interactive may take ownership" },
        { L"O:BAD:(A;;WD;;;BU)",                                         false, "Users may change the access list" },
        { L"O:BAD:(A;;GW;;;AU)",                                         false, "generic write" },
        { L"O:BAD:(A;;GA;;;WD)",                                         false, "generic all" },
        { L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)",
                                                                         false, "the common application data folder's stock list" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const Descriptor descriptor (c.sddl);
        EXPECT_EQ (SettingsTrust::isTrustedDescriptor (descriptor.data), c.trusted);
    }

    EXPECT_FALSE (SettingsTrust::isTrustedDescriptor (nullptr));

    // A null access list (not an empty one) lets everyone do everything.
    SECURITY_DESCRIPTOR nullList;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof (administrators);
    ASSERT_TRUE (CreateWellKnownSid (WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    ASSERT_TRUE (InitializeSecurityDescriptor (&nullList, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE (SetSecurityDescriptorOwner (&nullList, administrators, FALSE));
    ASSERT_TRUE (SetSecurityDescriptorDacl (&nullList, TRUE, nullptr, FALSE));
    EXPECT_FALSE (SettingsTrust::isTrustedDescriptor (&nullList));
}

// Through the resolution: a folder every user may write into is ignored, so the
// defaults hold and nothing is written; our own, locked down, is honoured.
TEST (SettingsTrust, AFolderEveryUserMayChangeIsIgnored)
{
    TempFolder temp;
    const auto paths = temp.systemPaths();
    const auto settingsFolder = paths.commonAppDataFolder.getChildFile ("Oakhaze");
    const auto defaults = defaultFormatFolders (paths.defaultFolderBase);
    ASSERT_TRUE (settingsFolder.createDirectory());

    const auto setList = [] (const juce::File& f, const wchar_t* sddl)
    {
        const Descriptor d (sddl);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE (GetSecurityDescriptorDacl (d.data, &present, &dacl, &defaulted));
        ASSERT_EQ (SetNamedSecurityInfoW (const_cast<wchar_t*> (f.getFullPathName().toWideCharPointer()), SE_FILE_OBJECT,
                                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, dacl, nullptr), (DWORD) ERROR_SUCCESS);
    };

    const auto file = settingsFolder.getChildFile ("PluginManagerSettings.txt");

    setList (settingsFolder, L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)");
    ASSERT_FALSE (SettingsTrust::isTrusted (settingsFolder));
    EXPECT_EQ (resolveSettings (paths.commonAppDataFolder, defaults).formatFolders, defaults);
    EXPECT_FALSE (file.exists());

    setList (settingsFolder, L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)");

    if (! SettingsTrust::isTrusted (settingsFolder))
        GTEST_SKIP() << "this process does not own its temporary folder as an administrator";

    resolveSettings (paths.commonAppDataFolder, defaults);
    EXPECT_TRUE (file.existsAsFile());
}
#else
TEST (SettingsTrust, OwnersAndAccessListsTable)
{
    GTEST_SKIP() << "security descriptors are Windows'; the POSIX rule is Settings.RootIgnoresAFileOtherUsersCanChange";
}
#endif
