// What a real Windows 10/11 shows best: Wine checks no sharing on a rename's
// destination, makes no junctions and keeps no inherited access lists below
// C:\ProgramData. The test kit runs these on a maker's machine; under Wine a
// case that cannot run says so and skips.

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
 #include "FileOps.h"
 #include "Installer.h"
 #include "InstallerHooks.h"
 #include "OpenLinkWindows.h"
 #include "RunLog.h"
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

/** Gives the stand-in for C:\\ProgramData the real one's access list (Users
    may add folders and files there), as the machine's own has it. */
void giveProgramDatasList (const juce::File& standIn)
{
    const auto realProgramData = juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ (GetNamedSecurityInfoW (realProgramData.getFullPathName().toWideCharPointer(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor), (DWORD) ERROR_SUCCESS);
    const auto applied = SetNamedSecurityInfoW (const_cast<wchar_t*> (standIn.getFullPathName().toWideCharPointer()),
                                                SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, dacl, nullptr);
    LocalFree (descriptor);
    ASSERT_EQ (applied, (DWORD) ERROR_SUCCESS);
}

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

// A host holding the product, in the four ways the table names: a CLAP file or
// a VST3 folder, with its module loaded only, or loaded and a file below held
// open (a host reading it, or any user: Users may read bundles). On a real
// Windows each update and uninstall fails with the bundle in place, whole,
// nothing hidden beside it, and the cause named in the result and the log;
// with the host gone both go through. (A folder with a file open below cannot
// be renamed; a loaded module cannot be deleted; a file opened without delete
// sharing can be neither.)
TEST (RealWindows, ABundleAHostHoldsStaysWholeAndTheRunSaysItIsInUse)
{
    const auto module = testModule();
    ASSERT_GT (module.getSize(), 0u) << "oh_test_module.dll belongs beside the tests";

    struct Case
    {
        int format;              ///< 0 VST3 (a folder), 1 CLAP (a file)
        const char* heldBelow;   ///< the file a host also holds open, or nullptr
    };

    const Case cases[] = {
        { 1, nullptr }, { 1, "Velquin.clap" },
        { 0, nullptr }, { 0, "Velquin.vst3/Contents/Resources/moduleinfo.json" },
    };

    for (const auto& c : cases)
    {
        const juce::String bundleName (c.format == 0 ? "Velquin.vst3" : "Velquin.clap");
        const auto modulePath = c.format == 0 ? bundleName + "/Contents/x86_64-win/Velquin.vst3" : bundleName;
        SCOPED_TRACE (bundleName + (c.heldBelow != nullptr ? ", loaded and " + juce::String (c.heldBelow) + " held open" : ", loaded only"));

        const auto archiveOf = [&] (const juce::MemoryBlock& m)
        {
            ZipFixture zip;
            const auto entry = [] (const juce::String& path) { return path.replaceCharacter ('/', '\\'); };

            if (c.format == 0)
                zip.directory (entry (bundleName + "/Contents"))
                   .file (entry (bundleName + "/Contents/Resources/moduleinfo.json"), "{}")
                   .file (entry (modulePath), m);
            else
                zip.file (bundleName, m);

            return zip.build();
        };

        TempFolder temp;
        const auto folder = temp[c.format == 0 ? "VST3" : "CLAP"];
        auto archive = archiveOf (module);
        const auto run = [&] (bool uninstall, RunLog::Failure* failure)
        {
            PerFormat<bool> selection {};
            selection[(size_t) c.format] = true;
            PerFormat<PayloadArchive> payloads {};
            payloads[(size_t) c.format] = PayloadArchive { archive.getData(), archive.getSize() };
            PerFormat<juce::File> folders { temp["VST3"], temp["CLAP"], temp["AAX"] };
            PerFormat<FormatOutcome> outcomes;
            const auto ok = processSelectedFormats (selection, uninstall, folders, "Velquin", payloads, &outcomes);

            if (failure != nullptr)
                *failure = outcomes[(size_t) c.format].failure;

            return ok;
        };
        const auto namesInFolder = [&]
        {
            juce::StringArray names;

            for (const auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
                names.add (f.getFileName());

            return names;
        };

        ASSERT_TRUE (run (false, nullptr));
        const auto installed = folder.getChildFile (modulePath);
        const auto loaded = LoadLibraryExW (installed.getFullPathName().toWideCharPointer(), nullptr, 0);
        ASSERT_NE (loaded, nullptr) << "the module cannot be loaded: " << (int) GetLastError();
        HANDLE held = INVALID_HANDLE_VALUE;

        if (c.heldBelow != nullptr)
        {
            // As the C runtime opens a file for reading: no delete sharing.
            held = CreateFileW (folder.getChildFile (c.heldBelow).getFullPathName().toWideCharPointer(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE (held, INVALID_HANDLE_VALUE);
        }

        // A different build of it, for the update.
        auto other = module;
        other.append ("padding", 7);
        archive = archiveOf (other);

        for (const bool uninstall : { false, true })
        {
            SCOPED_TRACE (uninstall ? "uninstall" : "update");
            juce::StringArray lines;
            RunLog::setSystemCall ([&] (RunLog::Event, const juce::String& line) { lines.add (line); });
            RunLog::Failure failure;
            EXPECT_FALSE (run (uninstall, &failure));
            RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});

            EXPECT_EQ (failure.cause, RunLog::Cause::inUse);
            ASSERT_EQ (lines.size(), 1);
            EXPECT_TRUE (lines[0].endsWith ("a file in " + bundleName + " is in use: close the host, then run again")) << lines[0];
            EXPECT_EQ (contentOf (installed), module);
            EXPECT_EQ (namesInFolder(), juce::StringArray ({ bundleName })) << namesInFolder().joinIntoString (", ");
        }

        if (held != INVALID_HANDLE_VALUE)
            CloseHandle (held);

        FreeLibrary (loaded);
        EXPECT_TRUE (run (false, nullptr));
        EXPECT_EQ (contentOf (installed), other);
        EXPECT_TRUE (run (true, nullptr));
        EXPECT_EQ (namesInFolder(), juce::StringArray());
    }
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
    giveProgramDatasList (paths.commonAppDataFolder);

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

    // Made by this elevated process, the junction is the administrators'; what
    // makes it untrusted is where it stands: ProgramData, where any user may
    // make one. The private stand-in must say so as the real one does.
    if (! isWine())
        giveProgramDatasList (paths.commonAppDataFolder);

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

// The run log's source takes its texts from the system's EventCreate.exe: each
// of our event ids must come out as the line itself, as Event Viewer shows it.
TEST (RealWindows, EventCreateGivesEachOfOurEventIdsAsItsLine)
{
    wchar_t path[MAX_PATH + 1] {};
    ExpandEnvironmentStringsW (L"%SystemRoot%\\System32\\EventCreate.exe", path, MAX_PATH);
    const auto file = LoadLibraryExW (path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);

    if (file == nullptr)
    {
        ASSERT_TRUE (isWine()) << "no EventCreate.exe in System32";
        GTEST_SKIP() << "cannot run under Wine: it has no EventCreate.exe";
    }

    for (const DWORD id : { 1u, 2u, 3u })
    {
        const wchar_t* line = L"VST3 install into C:\\x: succeeded";
        DWORD_PTR arguments[] = { (DWORD_PTR) line };
        wchar_t* text = nullptr;
        const auto length = FormatMessageW (FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                            file, id, 0, reinterpret_cast<wchar_t*> (&text), 0,
                                            reinterpret_cast<va_list*> (arguments));
        EXPECT_EQ (juce::String (text, (size_t) length).trim(), juce::String (line)) << "event id " << (int) id;
        LocalFree (text);
    }

    FreeLibrary (file);
}

// A junction in any part of a configured path is followed by the same rule as
// one at its end: only where the administrators own it and no one else may add
// entries to the folder holding it. Below the stand-in for ProgramData, with the
// real one's list, any user could have made it; below a folder only the
// administrators may change, it is the machine's own layout.
TEST (RealWindows, AJunctionOnTheWayToATargetFolderIsFollowedOnlyWhereNoOneElseCouldPutIt)
{
    TempFolder temp;
    const auto elsewhere = temp["elsewhere"];
    ASSERT_TRUE (elsewhere.getChildFile ("VST3").createDirectory());

    const auto open = [&] (const juce::File& holder)
    {
        EXPECT_TRUE (holder.createDirectory());
        return makeJunction (holder.getChildFile ("Plugins"), elsewhere);
    };

    const auto anyoneMayAdd = temp["ProgramData"];
    const auto adminsOnly = temp["adminsOnly"];

    if (! open (anyoneMayAdd))
    {
        ASSERT_TRUE (isWine()) << "a junction cannot be made here";
        GTEST_SKIP() << "cannot run under Wine: it makes no junctions";
    }

    ASSERT_TRUE (open (adminsOnly));
    giveProgramDatasList (anyoneMayAdd);
    SecurityStandIn::apply (adminsOnly, "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)");

    FileOps::PathReport report;
    EXPECT_FALSE (FileOps::openTargetFolder (anyoneMayAdd.getChildFile ("Plugins\\VST3"), false, &report));
    EXPECT_TRUE (report.untrustedLink);
    EXPECT_FALSE (FileOps::openTargetFolder (anyoneMayAdd.getChildFile ("Plugins\\VST3\\made"), true, &report));
    EXPECT_FALSE (elsewhere.getChildFile ("VST3\\made").exists());

    EXPECT_TRUE (FileOps::openTargetFolder (adminsOnly.getChildFile ("Plugins\\VST3"), false, &report));
    EXPECT_FALSE (report.untrustedLink);
}

// Links open elevated only through the desktop's Explorer: asked in the
// documented form (the desktop's item list), it must answer on a desktop
// where the kit was started as administrator from the same account.
TEST (RealWindows, TheDesktopsExplorerAnswersAnElevatedProgram)
{
    if (isWine())
        GTEST_SKIP() << "cannot run under Wine: it has no Explorer desktop to ask";

    EXPECT_TRUE (OpenLinkWindows::desktopExplorerAnswers());
}
#endif
