#include "RunLog.h"
#include "Settings.h"
#include "SettingsTrust.h"
#include "support/SecurityStandIn.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#if JUCE_WINDOWS
 #include <windows.h>
 #include <aclapi.h>
 #include <sddl.h>

 #include "WindowsCalls.h"

 #include <vector>

// The elevated program lets the settings steer it only when no one but
// Administrators, SYSTEM and TrustedInstaller can change the file, and no one
// else can delete, rename or re-permission it in its folder.
namespace
{
struct Descriptor
{
    explicit Descriptor (const juce::String& sddl)
    {
        EXPECT_TRUE (ConvertStringSecurityDescriptorToSecurityDescriptorW (sddl.toWideCharPointer(), SDDL_REVISION_1, &data, nullptr)) << sddl;
    }

    ~Descriptor()  { LocalFree (data); }

    PSECURITY_DESCRIPTOR data = nullptr;
};

// The inherited list of a folder made below C:\ProgramData by an elevated
// program, and the list written by the installer for its own file.
const juce::String normalFolderList = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
const char* const adminOnlyList = "D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;BU)";
const char* const standardAccount = "S-1-5-21-1111-2222-3333-1001";
} // namespace

TEST (SettingsTrust, OwnersAndAccessListsTable)
{
    const auto user = SecurityStandIn::tokenUser();
    ASSERT_TRUE (user.isNotEmpty());

    struct Case { juce::String sddl; bool fileTrusted, folderTrusted; const char* what; };

    const Case cases[] = {
        { juce::String ("O:BA") + adminOnlyList,                                 true,  true,  "the installer's own file" },
        { "O:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)",                                true,  true,  "owned by SYSTEM, everyone may read" },
        { "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)",
                                                                                 true,  true,  "owned by TrustedInstaller" },
        { "O:BA" + normalFolderList,                                             false, true,  "a folder made normally: Users may add files, nothing more" },
        { "O:" + user + adminOnlyList,                                           false, false, "owned by the token's own user" },
        { juce::String ("O:") + standardAccount + "D:(A;;FA;;;SY)",              false, false, "owned by a standard account" },
        { "O:BUD:(A;;FA;;;SY)",                                                  false, false, "owned by Users" },
        { juce::String ("O:BAD:(A;;FA;;;BA)(A;;0x2;;;") + standardAccount + ")", false, true,  "a named standard account may write" },
        { juce::String ("O:BAD:(A;;FA;;;BA)(A;;0x40;;;") + standardAccount + ")", false, false, "a named standard account may delete children" },
        { "O:BAD:(A;;FA;;;BA)(A;;0x6;;;S-1-5-15)",                               false, true,  "S-1-5-15 may write" },
        { "O:BAD:(A;;FA;;;BA)(A;;GA;;;S-1-15-2-1)",                              false, false, "app containers have full control" },
        { "O:BAD:(A;;FA;;;BA)(A;;0x2;;;DU)",                                     false, true,  "Domain Users may write" },
        { "O:BAD:(A;;FA;;;BA)(A;;SD;;;BG)",                                      false, false, "Guests may delete" },
        { "O:BAD:(D;;FA;;;BU)(A;;FA;;;BU)",                                      false, false, "a deny entry before an allow: the allow still counts" },
        { "O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)",                                      true,  true,  "a deny entry alone takes nothing away" },
        { "O:BAD:(A;OICIIO;FA;;;BU)(A;;FA;;;BA)",                                true,  true,  "an entry only for what is created inside" },
        { "O:BAD:(A;;WO;;;IU)",                                                  false, false, "Interactive may take ownership" },
        { "O:BAD:(A;;GW;;;AU)",                                                  false, true,  "generic write" },
        { "O:BAD:(A;;GA;;;WD)",                                                  false, false, "generic all" },
        { "O:BA",                                                                false, false, "no access list" },
        { "O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)",
                                                                                 false, true,  "C:\\ProgramData's stock list" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const Descriptor descriptor (c.sddl);
        EXPECT_EQ (SettingsTrust::isTrustedDescriptor (descriptor.data), c.fileTrusted);
        EXPECT_EQ (SettingsTrust::isTrustedFolderDescriptor (descriptor.data), c.folderTrusted);
    }

    EXPECT_FALSE (SettingsTrust::isTrustedDescriptor (nullptr));
    EXPECT_FALSE (SettingsTrust::isTrustedFolderDescriptor (nullptr));

    // An object allow entry with both object types: its account lies past them.
    BYTE users[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
    DWORD usersSize = sizeof (users), adminsSize = sizeof (admins);
    ASSERT_TRUE (CreateWellKnownSid (WinBuiltinUsersSid, nullptr, users, &usersSize));
    ASSERT_TRUE (CreateWellKnownSid (WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize));
    GUID objectType { 0xbf967aba, 0x0de6, 0x11d0, { 0xa2, 0x85, 0x00, 0xaa, 0x00, 0x30, 0x49, 0xe2 } };

    for (const auto* who : { users, admins })
    {
        SCOPED_TRACE (who == users ? "an object allow entry lets Users change permissions" : "the same for Administrators");
        std::vector<BYTE> acl (512);
        auto* list = reinterpret_cast<PACL> (acl.data());
        ASSERT_TRUE (InitializeAcl (list, (DWORD) acl.size(), ACL_REVISION_DS));
        // Written out by hand: header, mask, flags, both object types, then the account.
        std::vector<BYTE> ace (sizeof (ACE_HEADER) + 8 + 2 * sizeof (GUID) + GetLengthSid ((PSID) who));
        auto* header = reinterpret_cast<ACE_HEADER*> (ace.data());
        header->AceType = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
        header->AceSize = (WORD) ace.size();
        *reinterpret_cast<DWORD*> (ace.data() + 4) = WRITE_DAC;
        *reinterpret_cast<DWORD*> (ace.data() + 8) = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;
        memcpy (ace.data() + 12, &objectType, sizeof (GUID));
        memcpy (ace.data() + 12 + sizeof (GUID), &objectType, sizeof (GUID));
        memcpy (ace.data() + 12 + 2 * sizeof (GUID), who, GetLengthSid ((PSID) who));
        ASSERT_TRUE (AddAce (list, ACL_REVISION_DS, MAXDWORD, ace.data(), (DWORD) ace.size()));
        SECURITY_DESCRIPTOR withObjectEntry;
        ASSERT_TRUE (InitializeSecurityDescriptor (&withObjectEntry, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE (SetSecurityDescriptorOwner (&withObjectEntry, admins, FALSE));
        ASSERT_TRUE (SetSecurityDescriptorDacl (&withObjectEntry, TRUE, list, FALSE));
        EXPECT_EQ (SettingsTrust::isTrustedDescriptor (&withObjectEntry), who == admins);
        EXPECT_EQ (SettingsTrust::isTrustedFolderDescriptor (&withObjectEntry), who == admins);
    }

    // A null access list (not an empty one) lets everyone do everything.
    SECURITY_DESCRIPTOR nullList;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof (administrators);
    ASSERT_TRUE (CreateWellKnownSid (WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    ASSERT_TRUE (InitializeSecurityDescriptor (&nullList, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE (SetSecurityDescriptorOwner (&nullList, administrators, FALSE));
    ASSERT_TRUE (SetSecurityDescriptorDacl (&nullList, TRUE, nullptr, FALSE));
    EXPECT_FALSE (SettingsTrust::isTrustedDescriptor (&nullList));
    EXPECT_FALSE (SettingsTrust::isTrustedFolderDescriptor (&nullList));
}

//==============================================================================
namespace
{
/** The rule on the file as the engine reads it, through an open handle. */
bool hasTrustedDescriptor (const juce::File& f)
{
    const auto h = CreateFileW (f.getFullPathName().toWideCharPointer(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const bool trusted = WindowsCalls::securityPasses (h, SettingsTrust::isTrustedDescriptor);
    CloseHandle (h);
    return trusted;
}

juce::String settingsNaming (const juce::File& wanted)
{
    return "<?xml version=\"1.0\"?>\n<Plugin_Manager_Settings VST3_Path=\"" + wanted.getFullPathName() + "\\vst3\""
           " CLAP_Path=\"" + wanted.getFullPathName() + "\\clap\" AAX_Path=\"" + wanted.getFullPathName() + "\\aax\"/>\n";
}
} // namespace

// On disk, through the resolution: the file steers the run only when it and
// its folder pass the rule, and a missing file is written only into a folder
// that does. (A junction in the folder's place: RealWindows, as Wine makes none.)
TEST (SettingsTrust, ResolutionOnDiskTable)
{
    const auto user = SecurityStandIn::tokenUser();

    struct Case
    {
        const char* what;
        juce::String folderSddl, fileSddl;   ///< given to the maker's folder and the file ("": as made)
        bool honoured;                       ///< with a file: its folders are in force
        bool written;                        ///< without a file: a new one appears
    };

    const Case cases[] = {
        { "folder made normally, administrators' file", {}, {},                                         true,  true  },
        { "the file is the token user's own",           {}, "O:" + user + adminOnlyList,                false, true  },
        { "Users may write the file",                   {}, "O:BAD:P(A;;FA;;;BA)(A;;0x116;;;BU)",       false, true  },
        { "Users may delete in the folder",             "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;;0x40;;;BU)", {}, false, false },
        { "the folder is the token user's own",         "O:" + user + "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", {},  false, false },
    };

    for (const auto& c : cases)
    {
        for (const bool withFile : { true, false })
        {
            SCOPED_TRACE (juce::String (c.what) + (withFile ? ", with a file" : ", without one"));
            TempFolder temp;
            const auto paths = temp.systemPaths();
            const auto defaults = defaultFormatFolders (paths.defaultFolderBase);
            const auto folder = paths.commonAppDataFolder.getChildFile ("Oakhaze");
            const auto file = folder.getChildFile ("PluginManagerSettings.txt");
            const auto wanted = temp["wanted"];

            // A private stand-in for C:\ProgramData, and the maker's folder made in it.
            SecurityStandIn::apply (paths.commonAppDataFolder, juce::String ("O:BA") + normalFolderList.replace ("D:", "D:P"));
            ASSERT_TRUE (folder.createDirectory());
            SecurityStandIn::apply (folder, c.folderSddl.isNotEmpty() ? c.folderSddl : juce::String ("O:BA"));

            if (withFile)
            {
                ASSERT_TRUE (file.replaceWithText (settingsNaming (wanted)));
                SecurityStandIn::apply (file, c.fileSddl.isNotEmpty() ? c.fileSddl : "O:BA" + juce::String (adminOnlyList));
            }

            const auto before = file.existsAsFile() ? file.loadFileAsString() : juce::String();
            const auto resolved = resolveSettings (paths.commonAppDataFolder, defaults);

            if (withFile)
            {
                EXPECT_EQ (resolved.formatFolders[0] == wanted.getChildFile ("vst3"), c.honoured);
                EXPECT_EQ (resolved.formatFolders == defaults, ! c.honoured);
                EXPECT_EQ (file.loadFileAsString(), before);
            }
            else
            {
                EXPECT_EQ (resolved.formatFolders, defaults);
                EXPECT_EQ (file.existsAsFile(), c.written);

                // What the program writes is its own: administrators only, and honoured.
                if (c.written)
                {
                    EXPECT_TRUE (hasTrustedDescriptor (file));
                    EXPECT_EQ (resolveSettings (paths.commonAppDataFolder, defaults).formatFolders, defaults);
                    EXPECT_TRUE (file.loadFileAsString().contains ("VST3_Path"));
                }
            }

            // No temporary file left beside it.
            EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), file.existsAsFile() ? 1 : 0);
        }
    }
}
#endif

#if JUCE_WINDOWS
// Any user may create folders below C:\ProgramData. Where the settings folder
// is missing the program makes it first, for the administrators alone, so no
// one else can add a file there; a settings file owned by a standard account
// is ignored all the same, and the start says so.
TEST (SettingsTrust, AMissingSettingsFolderIsMadeForTheAdministratorsAlone)
{
    TempFolder temp;
    const auto paths = temp.systemPaths();
    const auto defaults = defaultFormatFolders (paths.defaultFolderBase);
    const auto folder = paths.commonAppDataFolder.getChildFile ("Oakhaze");
    const auto file = folder.getChildFile ("PluginManagerSettings.txt");
    SecurityStandIn::apply (paths.commonAppDataFolder, juce::String ("O:BA") + normalFolderList.replace ("D:", "D:P"));
    ASSERT_FALSE (folder.exists());

    auto resolved = resolveSettings (paths.commonAppDataFolder, defaults);
    EXPECT_TRUE (folder.isDirectory());
    EXPECT_TRUE (hasTrustedDescriptor (folder)) << "others than the administrators may add files to it";
    EXPECT_TRUE (file.existsAsFile());
    EXPECT_EQ (resolved.ignoredBecause, juce::String());

    // A file that is a standard account's: ignored, and the start line says why.
    SecurityStandIn::apply (file, "O:" + juce::String (standardAccount) + adminOnlyList);
    resolved = resolveSettings (paths.commonAppDataFolder, defaults);
    EXPECT_EQ (resolved.formatFolders, defaults);
    EXPECT_EQ (resolved.ignoredBecause, "it is owned by an account other than the administrators");

    juce::String line;
    RunLog::setSystemCall ([&] (RunLog::Event, const juce::String& text) { line = text; });
    RunLog::started ("Velquin", "1.0.0", resolved.formatFolders, { resolved.fromSettingsFile, resolved.settingsFile, resolved.ignoredBecause });
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});
    EXPECT_TRUE (line.endsWith (" ignored: it is owned by an account other than the administrators)")) << line;
}
#endif
