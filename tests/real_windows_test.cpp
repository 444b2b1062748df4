// What a real Windows 10/11 shows best: Wine checks no sharing on a rename's
// destination, makes no junctions and keeps no inherited access lists below
// C:\ProgramData. The test kit runs these on a maker's machine; under Wine a
// case that cannot run says so and skips.

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
 #include "Installer.h"
 #include "InstallerHooks.h"
 #include "Settings.h"
 #include "support/SecurityStandIn.h"
 #include "support/TempFolder.h"
 #include "support/ZipFixture.h"

 #include <gtest/gtest.h>

 #include <windows.h>
 #include <aclapi.h>
 #include <sddl.h>

 #include <atomic>
 #include <thread>
 #include <vector>

namespace
{
bool isWine()
{
    const auto ntdll = GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}

juce::MemoryBlock contentOf (const juce::File& f)
{
    juce::MemoryBlock block;
    f.loadFileAsData (block);
    return block;
}

/** The small DLL built beside the tests, standing in for a plug-in's module. */
juce::MemoryBlock testModule()
{
    return contentOf (juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                          .getSiblingFile ("oh_test_module.dll"));
}

/** Makes link a junction (a mount point, which needs no privilege) to target. */
bool makeJunction (const juce::File& link, const juce::File& target)
{
    if (! link.createDirectory())
        return false;

    const auto substitute = "\\??\\" + target.getFullPathName();
    const auto print = target.getFullPathName();
    const auto substituteBytes = (WORD) (substitute.length() * 2), printBytes = (WORD) (print.length() * 2);

    // REPARSE_DATA_BUFFER for a mount point: tag, length, then the two names' offsets and lengths.
    std::vector<BYTE> buffer (16 + substituteBytes + 2 + printBytes + 2);
    auto* p = buffer.data();
    *reinterpret_cast<DWORD*> (p) = IO_REPARSE_TAG_MOUNT_POINT;
    *reinterpret_cast<WORD*> (p + 4) = (WORD) (buffer.size() - 8);
    *reinterpret_cast<WORD*> (p + 8) = 0;
    *reinterpret_cast<WORD*> (p + 10) = substituteBytes;
    *reinterpret_cast<WORD*> (p + 12) = (WORD) (substituteBytes + 2);
    *reinterpret_cast<WORD*> (p + 14) = printBytes;
    memcpy (p + 16, substitute.toWideCharPointer(), substituteBytes);
    memcpy (p + 16 + substituteBytes + 2, print.toWideCharPointer(), printBytes);

    const auto h = CreateFileW (link.getFullPathName().toWideCharPointer(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

    if (h == INVALID_HANDLE_VALUE)
        return false;

    DWORD returned = 0;
    const bool ok = DeviceIoControl (h, FSCTL_SET_REPARSE_POINT, buffer.data(), (DWORD) buffer.size(),
                                     nullptr, 0, &returned, nullptr) != 0;
    CloseHandle (h);
    return ok && (GetFileAttributesW (link.getFullPathName().toWideCharPointer()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

struct Target
{
    TempFolder temp;
    juce::File folder = temp["CLAP"];
    juce::File bundle = folder.getChildFile ("Velquin.clap");
    juce::MemoryBlock archive;

    explicit Target (const juce::MemoryBlock& module)
    {
        archive = ZipFixture().file ("Velquin.clap", module).build();
    }

    bool run (bool uninstall) const
    {
        PerFormat<bool> selection { false, true, false };
        PerFormat<PayloadArchive> payloads {};
        payloads[1] = PayloadArchive { archive.getData(), archive.getSize() };
        return processSelectedFormats (selection, uninstall, { temp["VST3"], folder, temp["AAX"] }, "Velquin", payloads);
    }

    juce::StringArray namesInFolder() const
    {
        juce::StringArray names;

        for (const auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, true))
            names.add (f.getRelativePathFrom (folder));

        names.sort (false);
        return names;
    }
};
} // namespace

//==============================================================================
// A scanner opening a freshly staged file for a moment (held here for 300 ms
// by another thread, without delete sharing) must not fail the install: the
// swap waits for it.
TEST (RealWindows, AStagedFileHeldOpenFor300msDoesNotStopTheInstall)
{
    TempFolder temp;
    const auto target = temp["VST3"];
    const auto archive = ZipFixture().directory ("Velquin.vst3\\Contents")
                                     .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", "new module")
                                     .build();

    std::atomic<bool> held { false };
    std::thread holder;

    // The first rename of a staged entry is the moment a scanner would look.
    installerHooks().beforeReplacing = [&]
    {
        for (const auto& f : target.findChildFiles (juce::File::findFiles, true, "Velquin.vst3"))
        {
            const auto h = CreateFileW (f.getFullPathName().toWideCharPointer(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr);

            if (h != INVALID_HANDLE_VALUE)
            {
                held = true;
                holder = std::thread ([h] { Sleep (300); CloseHandle (h); });
                return;
            }
        }
    };

    PerFormat<bool> selection { true, false, false };
    PerFormat<PayloadArchive> payloads { PayloadArchive { archive.getData(), archive.getSize() }, {}, {} };
    const auto outcome = processSelectedFormats (selection, false, { target, temp["CLAP"], temp["AAX"] }, "Velquin", payloads);
    installerHooks().beforeReplacing = nullptr;

    if (holder.joinable())
        holder.join();

    EXPECT_TRUE (held);
    EXPECT_TRUE (outcome);
    EXPECT_EQ (target.getChildFile ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3").loadFileAsString(), "new module");
    EXPECT_EQ (target.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
}

// A host that has loaded the module: the update and the uninstall each fail,
// the loaded bundle stays in place whole, and no module is left anywhere a host
// scans. With the module freed, both go through.
TEST (RealWindows, ALoadedModuleStaysInItsWholeOldBundle)
{
    const auto module = testModule();
    ASSERT_GT (module.getSize(), 0u) << "oh_test_module.dll belongs beside the tests";

    Target t (module);
    ASSERT_TRUE (t.run (false));

    const auto loaded = LoadLibraryExW (t.bundle.getFullPathName().toWideCharPointer(), nullptr, 0);
    ASSERT_NE (loaded, nullptr) << "the module cannot be loaded: " << (int) GetLastError();

    // A different build of it, for the update.
    auto other = module;
    other.append ("padding", 7);
    t.archive = ZipFixture().file ("Velquin.clap", other).build();
    const auto& u = t;

    for (const bool uninstall : { false, true })
    {
        SCOPED_TRACE (uninstall ? "uninstall" : "update");
        EXPECT_FALSE (u.run (uninstall));
        EXPECT_EQ (contentOf (u.bundle), module);
        EXPECT_EQ (u.namesInFolder(), juce::StringArray ({ "Velquin.clap" }));
    }

    FreeLibrary (loaded);
    EXPECT_TRUE (u.run (false));
    EXPECT_EQ (contentOf (u.bundle), other);
    EXPECT_TRUE (u.run (true));
    EXPECT_EQ (u.namesInFolder(), juce::StringArray());
}

// The maker's folder made the normal way below C:\ProgramData inherits Users'
// right to add files; a file an administrator wrote there is still honoured.
// The stand-in for C:\ProgramData carries a copy of the real one's list.
TEST (RealWindows, ANormallyMadeSettingsFolderBelowProgramDataIsHonoured)
{
    if (isWine())
        GTEST_SKIP() << "cannot run under Wine: its C:\\ProgramData has no inheritable access list";

    TempFolder temp;
    const auto paths = temp.systemPaths();
    const auto realProgramData = juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory);

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ (GetNamedSecurityInfoW (realProgramData.getFullPathName().toWideCharPointer(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &dacl, nullptr, &descriptor), (DWORD) ERROR_SUCCESS);
    const auto applied = SetNamedSecurityInfoW (const_cast<wchar_t*> (paths.commonAppDataFolder.getFullPathName().toWideCharPointer()),
                                                SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, dacl, nullptr);
    LocalFree (descriptor);
    ASSERT_EQ (applied, (DWORD) ERROR_SUCCESS);

    const auto folder = paths.commonAppDataFolder.getChildFile ("Oakhaze");
    ASSERT_TRUE (CreateDirectoryW (folder.getFullPathName().toWideCharPointer(), nullptr));
    const auto defaults = defaultFormatFolders (paths.defaultFolderBase);

    // Written by the program itself, then by an administrator's editor.
    resolveSettings (paths.commonAppDataFolder, defaults);
    const auto file = folder.getChildFile ("PluginManagerSettings.txt");
    ASSERT_TRUE (file.existsAsFile());

    const auto wanted = temp["wanted"];
    const auto text = file.loadFileAsString().replace (defaults[0].getFullPathName(), wanted.getFullPathName());
    ASSERT_TRUE (file.deleteFile());
    ASSERT_TRUE (file.replaceWithText (text));

    EXPECT_EQ (resolveSettings (paths.commonAppDataFolder, defaults).formatFolders[0], wanted);
}
// An Oakhaze folder that is a junction (any user may make one where the folder
// is missing) is ignored: its file steers nothing, and nothing is written
// through it, even where it leads to a folder only administrators may change.
TEST (RealWindows, AJunctionInPlaceOfTheSettingsFolderIsIgnored)
{
    TempFolder temp;
    const auto paths = temp.systemPaths();
    const auto defaults = defaultFormatFolders (paths.defaultFolderBase);
    const auto elsewhere = temp["elsewhere"];
    const auto throughJunction = elsewhere.getChildFile ("PluginManagerSettings.txt");
    ASSERT_TRUE (elsewhere.createDirectory());

    if (! makeJunction (paths.commonAppDataFolder.getChildFile ("Oakhaze"), elsewhere))
    {
        ASSERT_TRUE (isWine()) << "a junction cannot be made here";
        GTEST_SKIP() << "cannot run under Wine: it makes no junctions";
    }

    const auto wanted = temp["wanted"];
    ASSERT_TRUE (throughJunction.replaceWithText ("<?xml version=\"1.0\"?>\n<Plugin_Manager_Settings VST3_Path=\""
                                                  + wanted.getFullPathName() + "\" CLAP_Path=\"c\" AAX_Path=\"a\"/>\n"));
    SecurityStandIn::apply (throughJunction, "O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)");
    const auto before = throughJunction.loadFileAsString();

    EXPECT_EQ (resolveSettings (paths.commonAppDataFolder, defaults).formatFolders, defaults);
    EXPECT_EQ (throughJunction.loadFileAsString(), before);

    ASSERT_TRUE (throughJunction.deleteFile());
    EXPECT_EQ (resolveSettings (paths.commonAppDataFolder, defaults).formatFolders, defaults);
    EXPECT_EQ (elsewhere.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    EXPECT_FALSE (wanted.exists());
}
#endif
