// Windows' own rules for the file work: sharing on a rename's destination,
// busy entries, modules a host has loaded, the marks Explorer reads. The system
// calls are watched (and made to fail) through the engine's seam, so the rules
// hold under Wine too, which checks none of them by itself.

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
 #include "Installer.h"
 #include "InstallerHooks.h"
 #include "RunLog.h"
 #include "WindowsCalls.h"
 #include "support/MadeRecords.h"
#include "support/TempFolder.h"
 #include "support/ZipFixture.h"

 #include <gtest/gtest.h>

 #include <map>
 #include <numeric>

namespace
{
/** Puts the calls in force back when the test is done with its own. */
struct ScopedCalls
{
    ScopedCalls() = default;
    ~ScopedCalls()                          { WindowsCalls::calls() = saved; }
    WindowsCalls::Calls& operator*() const  { return WindowsCalls::calls(); }

    const WindowsCalls::Calls saved = WindowsCalls::calls();
};

struct FileId
{
    FILE_ID_INFO id {};
    bool valid = false;

    static FileId of (HANDLE h)
    {
        FileId f;
        f.valid = GetFileInformationByHandleEx (h, FileIdInfo, &f.id, sizeof (f.id)) != 0;

        if (! f.valid)
        {
            BY_HANDLE_FILE_INFORMATION info {};
            f.valid = GetFileInformationByHandle (h, &info) != 0;
            f.id.VolumeSerialNumber = info.dwVolumeSerialNumber;
            memcpy (f.id.FileId.Identifier, &info.nFileIndexLow, 4);
            memcpy (f.id.FileId.Identifier + 4, &info.nFileIndexHigh, 4);
        }

        return f;
    }

    static FileId of (const juce::File& f)
    {
        const auto h = CreateFileW (f.getFullPathName().toWideCharPointer(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        const auto id = of (h);
        CloseHandle (h);
        return id;
    }

    bool operator== (const FileId& other) const
    {
        return valid && other.valid && id.VolumeSerialNumber == other.id.VolumeSerialNumber
                && memcmp (id.FileId.Identifier, other.id.FileId.Identifier, sizeof (id.FileId.Identifier)) == 0;
    }
};

bool isDisposition (FILE_INFORMATION_CLASS c)
{
    return c == WindowsCalls::dispositionInformation || c == WindowsCalls::dispositionInformationEx;
}

bool asksToDelete (PVOID information, FILE_INFORMATION_CLASS c)
{
    // Both forms start with the flag (a BOOLEAN or a ULONG of flags, bit 0 deletes).
    return (*static_cast<const BYTE*> (information) & 1) != 0 && isDisposition (c);
}

/** The full path an open handle refers to. */
juce::String pathOf (HANDLE h)
{
    std::vector<WCHAR> path (32768);
    const auto n = GetFinalPathNameByHandleW (h, path.data(), (DWORD) path.size(), 0);
    return n > 0 && n < path.size() ? juce::String (path.data(), (size_t) n) : juce::String();
}

/** The name a rename gives, and the path of what it renames. */
juce::String renamedTo (PVOID information)
{
    const auto* info = static_cast<const FILE_RENAME_INFORMATION*> (information);
    return juce::String (info->FileName, (size_t) info->FileNameLength / sizeof (WCHAR));
}

/** The run log's lines while it lives. */
struct CapturedLines
{
    CapturedLines()   { RunLog::setSystemCall ([this] (RunLog::Event, const juce::String& line) { lines.add (line); }); }
    ~CapturedLines()  { RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {}); }

    juce::StringArray lines;
};

using Files = std::map<juce::String, juce::String>;   // relative path -> content ("" for a folder)

Files filesBelow (const juce::File& root)
{
    Files files;

    for (const auto& entry : juce::RangedDirectoryIterator (root, true, "*", juce::File::findFilesAndDirectories))
        files[entry.getFile().getRelativePathFrom (root).replaceCharacter ('\\', '/')]
            = entry.isDirectory() ? juce::String() : entry.getFile().loadFileAsString();

    return files;
}

/** A VST3 folder holding an old bundle, and an archive with a new one. */
struct Update
{
    TempFolder temp;
    juce::File target = temp["VST3"];
    juce::File bundle = target.getChildFile ("Velquin.vst3");
    juce::File module = bundle.getChildFile ("Contents/x86_64-win/Velquin.vst3");
    juce::MemoryBlock archive;
    Files oldBundle;

    explicit Update (const juce::MemoryBlock& newModule = juce::MemoryBlock ("new module", 10))
    {
        archive = ZipFixture().directory ("Velquin.vst3\\Contents")
                              .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", newModule)
                              .file ("Velquin.vst3\\desktop.ini", "[.ShellClassInfo]\r\nIconResource=Plugin.ico,0\r\n")
                              .build();

        module.create();
        module.replaceWithText ("old module");
        bundle.getChildFile ("old-only.txt").replaceWithText ("only the old bundle has this");
        oldBundle = filesBelow (bundle);
    }

    bool run (bool uninstall, RunLog::Failure* failure = nullptr) const
    {
        PerFormat<bool> selection { true, false, false };
        PerFormat<PayloadArchive> payloads { PayloadArchive { archive.getData(), archive.getSize() }, {}, {} };
        PerFormat<FormatOutcome> outcomes;
        const auto ok = processSelectedFormats (selection, uninstall, { target, temp["CLAP"], temp["AAX"] }, "Velquin",
                                                payloads, &outcomes, { temp["state"] });

        if (failure != nullptr)
            *failure = outcomes[0].failure;

        return ok;
    }

    /** Every entry below the target, as relative paths. */
    juce::StringArray namesInTarget() const
    {
        juce::StringArray names;

        for (const auto& f : target.findChildFiles (juce::File::findFilesAndDirectories, true))
            if (f.getParentDirectory() == target || ! f.isAChildOf (bundle))
                names.add (f.getRelativePathFrom (target));

        names.sort (false);
        return names;
    }
};
} // namespace

//==============================================================================
// Windows opens a rename's destination folder sharing only read and write, so
// a handle of ours with DELETE on that folder makes the rename fail on real
// systems. Every rename of an update, an uninstall and a leftover's removal is
// checked against every handle we hold at that moment.
TEST (WindowsFileRules, NoFolderHandleOfOursHoldsDeleteWhileARenameIntoItRuns)
{
    Update u;
    std::map<HANDLE, ACCESS_MASK> held;
    int renames = 0;
    juce::StringArray violations;

    ScopedCalls calls;
    (*calls).opened = [&] (HANDLE h, ACCESS_MASK access) { held[h] = access; };
    (*calls).closing = [&] (HANDLE h) { held.erase (h); };
    (*calls).setInformation = [&, system = calls.saved.setInformation]
                              (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS c)
    {
        if (c == WindowsCalls::renameInformation)
        {
            ++renames;
            const auto destination = FileId::of (static_cast<FILE_RENAME_INFORMATION*> (info)->RootDirectory);

            for (const auto& [other, access] : held)
                if ((access & DELETE) != 0 && FileId::of (other) == destination)
                    violations.add (juce::String::toHexString ((juce::pointer_sized_int) other));
        }

        return system (h, info, length, c);
    };

    EXPECT_TRUE (u.run (false));   // over the old bundle: two renames and the old one cleared
    EXPECT_TRUE (u.run (false));
    EXPECT_TRUE (u.run (true));
    EXPECT_FALSE (u.bundle.exists());
    EXPECT_EQ (u.namesInTarget(), juce::StringArray());

    EXPECT_GE (renames, 6);
    EXPECT_EQ (violations, juce::StringArray());
}

// Another run's staging folder is locked by its handle alone: it is not shared
// for deletion, so a second run cannot take it for a leftover.
TEST (WindowsFileRules, AStagingFolderIsLockedWhileItsRunHoldsIt)
{
    TempFolder temp;
    const auto target = FileOps::openTargetFolder (temp["VST3"], true);
    juce::String name;
    auto staging = FileOps::createStagingFolder (target, ".Velquin.vst3.oh-staging-", name);
    ASSERT_TRUE (staging);

    auto seen = FileOps::openFolder (target, name);
    ASSERT_TRUE (seen);
    EXPECT_EQ (FileOps::tryLock (seen), FileOps::Lock::busy);
    EXPECT_FALSE (FileOps::removeFolder (target, name, seen));
    EXPECT_TRUE (temp["VST3"].getChildFile (name).isDirectory());

    ASSERT_TRUE (staging.close());
    seen = FileOps::openFolder (target, name);
    EXPECT_EQ (FileOps::tryLock (seen), FileOps::Lock::taken);
    EXPECT_TRUE (FileOps::removeFolder (target, name, seen));
    EXPECT_FALSE (temp["VST3"].getChildFile (name).exists());
}

// A scanner or the indexer holding a fresh file without delete sharing, or a
// file being deleted, makes renames and deletions fail for a moment; those are
// tried again with a growing wait, about five seconds in all. An access denied
// is no such moment (a permission, or a file open below a folder): it fails at
// once, with the old bundle whole.
TEST (WindowsFileRules, OnlySharingViolationsAndPendingDeletesAreTriedAgain)
{
    struct Case
    {
        NTSTATUS status;
        const char* error;
        bool renames;         ///< else deletions
        int failures;         ///< -1: for ever
        bool succeeds;
        int waits;            ///< -1: about five seconds' worth
    };

    const Case cases[] = {
        { WindowsCalls::statusSharingViolation, "sharing violation", true,  3,  true,  3 },
        { WindowsCalls::statusDeletePending,    "delete pending",    true,  3,  true,  3 },
        { WindowsCalls::statusSharingViolation, "sharing violation", false, 3,  true,  3 },
        { WindowsCalls::statusDeletePending,    "delete pending",    false, 3,  true,  3 },
        { WindowsCalls::statusSharingViolation, "sharing violation", true,  -1, false, -1 },
        { WindowsCalls::statusDeletePending,    "delete pending",    true,  -1, false, -1 },
        { WindowsCalls::statusAccessDenied,     "access denied",     true,  -1, false, 0 },
        { WindowsCalls::statusAccessDenied,     "access denied",     false, -1, false, 0 },
    };

    for (const auto& c : cases)
    {
        for (const bool uninstall : { false, true })
        {
            SCOPED_TRACE (juce::String (c.error) + (c.renames ? ", renames" : ", deletions")
                          + (c.failures < 0 ? ", for ever" : ", " + juce::String (c.failures) + " times")
                          + (uninstall ? ", uninstall" : ", update"));
            Update u;
            int failed = 0;
            std::vector<DWORD> waits;

            ScopedCalls calls;
            (*calls).sleep = [&] (DWORD ms) { waits.push_back (ms); };
            (*calls).setInformation = [&, system = calls.saved.setInformation]
                                      (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
            {
                const bool hit = c.renames ? k == WindowsCalls::renameInformation : asksToDelete (info, k);

                if (hit && (c.failures < 0 || failed < c.failures))
                {
                    ++failed;
                    return c.status;
                }

                return system (h, info, length, k);
            };

            const auto outcome = u.run (uninstall);
            const auto waited = std::accumulate (waits.begin(), waits.end(), (DWORD) 0);
            EXPECT_EQ (outcome, c.succeeds);

            if (c.waits >= 0)
                EXPECT_EQ ((int) waits.size(), c.waits);
            else
                EXPECT_EQ (waited, busyWaitPerFormatMs);

            (*calls).setInformation = calls.saved.setInformation;

            if (c.succeeds)
            {
                EXPECT_EQ (failed, c.failures);
                EXPECT_EQ (u.namesInTarget(), uninstall ? juce::StringArray() : juce::StringArray ({ "Velquin.vst3" }));
            }
            else
            {
                EXPECT_EQ (filesBelow (u.bundle), u.oldBundle);

                // Files no deletion can remove stay hidden in the staging folder for a later run.
                if (c.renames)
                {
                    EXPECT_EQ (u.namesInTarget(), juce::StringArray ({ "Velquin.vst3" })) << u.namesInTarget().joinIntoString (", ");
                }
            }
        }
    }
}

// Files held for good add up: a bundle of many files, each deletion refused as
// busy for ever, would wait five seconds a file. The waits of one format's
// run, counted through the seam, stay within its budget, whatever the bundle holds.
TEST (WindowsFileRules, HeldFilesFreezeARunForAtMostItsBudget)
{
    ZipFixture zip;
    zip.directory ("Velquin.vst3\\Contents");

    for (int i = 0; i < 40; ++i)
        zip.file ("Velquin.vst3\\Contents\\Resources\\file" + juce::String (i) + ".txt", "new " + juce::String (i));

    for (const bool uninstall : { false, true })
    {
        SCOPED_TRACE (uninstall ? "uninstall" : "update");
        Update u;
        u.archive = zip.build();
        std::vector<DWORD> waits;

        {
            ScopedCalls calls;
            (*calls).sleep = [&] (DWORD ms) { waits.push_back (ms); };
            (*calls).setInformation = [&, system = calls.saved.setInformation]
                                      (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
            {
                return asksToDelete (info, k) ? WindowsCalls::statusSharingViolation : system (h, info, length, k);
            };

            EXPECT_FALSE (u.run (uninstall));
        }

        EXPECT_LE (std::accumulate (waits.begin(), waits.end(), (DWORD) 0), busyWaitPerFormatMs);
        EXPECT_EQ (filesBelow (u.bundle), u.oldBundle);
    }
}

// A folder with a file open below it cannot be renamed until that file is
// closed (a host, an Explorer window, any user reading it): the run fails at
// once, without waiting, with the bundle in place, nothing hidden beside it,
// and the cause named in the result and the run log. Played here by refusing
// the bundle folder's rename as Windows does.
TEST (WindowsFileRules, AFolderBundleInUseFailsAtOnceAndSaysSo)
{
    for (const bool uninstall : { false, true })
    {
        SCOPED_TRACE (uninstall ? "uninstall" : "update");
        Update u;
        std::vector<DWORD> waits;
        RunLog::Failure failure;
        CapturedLines log;

        {
            ScopedCalls calls;
            (*calls).sleep = [&] (DWORD ms) { waits.push_back (ms); };
            (*calls).setInformation = [&, system = calls.saved.setInformation]
                                      (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
            {
                const bool bundleMoves = k == WindowsCalls::renameInformation
                                          && pathOf (h).endsWithIgnoreCase (u.bundle.getFullPathName().fromFirstOccurrenceOf (":", true, false));
                return bundleMoves ? WindowsCalls::statusAccessDenied : system (h, info, length, k);
            };

            EXPECT_FALSE (u.run (uninstall, &failure));
        }

        EXPECT_TRUE (waits.empty());
        EXPECT_EQ (failure.cause, RunLog::Cause::inUse);
        EXPECT_EQ (filesBelow (u.bundle), u.oldBundle);
        EXPECT_EQ (u.namesInTarget(), juce::StringArray ({ "Velquin.vst3" }));
        ASSERT_EQ (log.lines.size(), 1);
        EXPECT_TRUE (log.lines[0].endsWith ("a file in Velquin.vst3 is in use: close the host, then run again")) << log.lines[0];

        EXPECT_TRUE (u.run (uninstall));
    }
}

// Set aside, the old bundle must come back when the new one cannot take its
// place. Where it cannot move into the private staging folder on its way back
// (a file in it was opened meanwhile), it goes straight back: never an empty
// bundle path with the old bundle hidden beside it.
TEST (WindowsFileRules, TheOldBundleComesBackWhenItsWayThroughStagingIsInUse)
{
    Update u;
    installerHooks().forceTwoRenames = true;

    {
        ScopedCalls calls;
        (*calls).setInformation = [&, system = calls.saved.setInformation]
                                  (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
        {
            if (k == WindowsCalls::renameInformation)
            {
                const auto from = pathOf (h);
                const bool placing = from.contains (".oh-staging-") && renamedTo (info) == "Velquin.vst3";
                const bool asideIntoStaging = from.endsWith (".oh-aside") && renamedTo (info) == "aside";

                if (placing || asideIntoStaging)
                    return WindowsCalls::statusAccessDenied;
            }

            return system (h, info, length, k);
        };

        EXPECT_FALSE (u.run (false));
    }

    installerHooks().forceTwoRenames = false;
    EXPECT_EQ (filesBelow (u.bundle), u.oldBundle);
    EXPECT_EQ (u.namesInTarget(), juce::StringArray ({ "Velquin.vst3" })) << u.namesInTarget().joinIntoString (", ");
}

// A file that cannot be deleted in a leftover staging folder is put on the
// restart's list once, keeping the name it was retired under, however many
// runs find it still held; the run says what the restart finishes.
TEST (WindowsFileRules, AHeldLeftoverIsScheduledForRestartOnce)
{
    Update u;
    ASSERT_TRUE (u.run (false));
    const auto leftover = u.target.getChildFile (".Velquin.vst3.oh-staging-AbC123");
    ASSERT_TRUE (leftover.createDirectory());
    ASSERT_TRUE (leftover.getChildFile ("Velquin.vst3").replaceWithText ("held"));
    ASSERT_TRUE (recordAsMade (u.temp["state"], "Velquin.vst3", StateFolder::Made::staging, leftover));
    const auto held = FileId::of (leftover.getChildFile ("Velquin.vst3"));

    std::vector<std::wstring> scheduled;
    juce::StringArray calls;

    for (int run = 0; run < 3; ++run)
    {
        SCOPED_TRACE ("run " + juce::String (run));
        ScopedCalls seam;
        (*seam).pendingAtRestart = [&] { return scheduled; };
        (*seam).deleteAtRestart = [&] (const wchar_t* path)
        {
            calls.add (juce::String (path).fromLastOccurrenceOf ("\\", false, false));
            scheduled.push_back (std::wstring (L"\\??\\") + (wcsncmp (path, L"\\\\?\\", 4) == 0 ? path + 4 : path));
            scheduled.push_back ({});
            return TRUE;
        };
        (*seam).setInformation = [&, system = seam.saved.setInformation]
                                 (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
        {
            return asksToDelete (info, k) && FileId::of (h) == held ? WindowsCalls::statusCannotDelete
                                                                  : system (h, info, length, k);
        };

        RunLog::Failure failure;
        EXPECT_TRUE (u.run (false, &failure));
        EXPECT_EQ (failure.cause, RunLog::Cause::restartNeeded);
        EXPECT_EQ (filesBelow (leftover), Files ({ { "Velquin.vst3.oh-delete", "held" } }));
    }

    // The file once; its folder, which cannot go before it, at most once.
    EXPECT_EQ (calls.indexOf ("Velquin.vst3.oh-delete"), 0) << calls.joinIntoString (", ");
    EXPECT_EQ (calls.size(), calls.indexOf (".Velquin.vst3.oh-staging-AbC123") >= 0 ? 2 : 1) << calls.joinIntoString (", ");
}

// Any user who may read a leftover staging folder can hold it open, and it
// then looks like a live run's: it stays, the run goes on, and its line says so.
TEST (WindowsFileRules, AHeldLeftoverStagingFolderIsNamedInTheRunLog)
{
    Update u;
    ASSERT_TRUE (u.run (false));
    const auto leftover = u.target.getChildFile (".Velquin.vst3.oh-staging-XyZ789");
    ASSERT_TRUE (leftover.createDirectory());
    ASSERT_TRUE (recordAsMade (u.temp["state"], "Velquin.vst3", StateFolder::Made::staging, leftover));
    const auto h = CreateFileW (leftover.getFullPathName().toWideCharPointer(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE (h, INVALID_HANDLE_VALUE);

    CapturedLines log;
    EXPECT_TRUE (u.run (false));
    CloseHandle (h);

    EXPECT_TRUE (leftover.isDirectory());
    ASSERT_EQ (log.lines.size(), 1);
    EXPECT_TRUE (log.lines[0].contains (": succeeded; the leftover .Velquin.vst3.oh-staging-XyZ789 is held open by another run or program and stays for a later run"))
        << log.lines[0];

    EXPECT_TRUE (u.run (false));
    EXPECT_FALSE (leftover.exists());
}

// Identity is the whole 128-bit file id with its 64-bit volume serial: on ReFS
// (a Dev Drive) the low 64 bits alone are not unique.
TEST (WindowsFileRules, IdentityIsTheWhole128BitFileId)
{
    TempFolder temp;
    const auto target = FileOps::openTargetFolder (temp["VST3"], true);
    ASSERT_TRUE (FileOps::createFile (target, "a").close());
    const auto file = FileOps::openForReading (target, "a");
    ASSERT_TRUE (file);

    FILE_ID_INFO id {};
    ASSERT_TRUE (GetFileInformationByHandleEx ((HANDLE) file.native(), FileIdInfo, &id, sizeof (id)));
    const auto identity = FileOps::identityOf (file);
    ASSERT_TRUE (identity.valid);
    EXPECT_EQ (identity.volume, id.VolumeSerialNumber);
    EXPECT_EQ (memcmp (&identity.object, id.FileId.Identifier, 8), 0);
    EXPECT_EQ (memcmp (&identity.objectHigh, id.FileId.Identifier + 8, 8), 0);

    auto sameLowHalf = identity;
    sameLowHalf.objectHigh ^= 1;
    EXPECT_NE (identity, sameLowHalf);
}

// A module a host has loaded can be renamed but not deleted. The format then
// fails with its old bundle back in place, whole, and no module anywhere a
// host scans (a staging or aside folder); the next run, with the host closed,
// goes through. Played here by refusing the old module's deletion, as Windows does.
TEST (WindowsFileRules, ALoadedModuleLeavesTheOldBundleWholeAndNothingBeside)
{
    for (const bool uninstall : { false, true })
    {
        SCOPED_TRACE (uninstall ? "uninstall" : "update");
        Update u;
        const auto loaded = FileId::of (u.module);
        ASSERT_TRUE (loaded.valid);
        int refused = 0;

        {
            ScopedCalls calls;
            (*calls).setInformation = [&, system = calls.saved.setInformation]
                                      (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
            {
                if (asksToDelete (info, k) && FileId::of (h) == loaded)
                {
                    ++refused;
                    return WindowsCalls::statusCannotDelete;
                }

                return system (h, info, length, k);
            };

            RunLog::Failure failure;
            EXPECT_FALSE (u.run (uninstall, &failure));
            EXPECT_EQ (failure.cause, RunLog::Cause::inUse);
        }

        EXPECT_GT (refused, 0);
        EXPECT_EQ (filesBelow (u.bundle), u.oldBundle);
        EXPECT_TRUE (FileId::of (u.module) == loaded);
        EXPECT_EQ (u.namesInTarget(), juce::StringArray ({ "Velquin.vst3" })) << u.namesInTarget().joinIntoString (", ");

        // The host closed: the same run goes through.
        EXPECT_TRUE (u.run (uninstall));
        EXPECT_EQ (u.namesInTarget(), uninstall ? juce::StringArray() : juce::StringArray ({ "Velquin.vst3" }));
    }
}

// Explorer reads a bundle's desktop.ini only in a read-only or system folder;
// the file itself is hidden and system. Both marks are set on the staged bundle
// before it takes its place, and the read-only folder still goes on the next
// run. (The folder's mark is read from the call: Wine keeps none on folders.)
TEST (WindowsFileRules, ABundleWithADesktopIniShowsItsIcon)
{
    Update u;
    juce::StringArray events;

    {
        ScopedCalls calls;
        (*calls).setInformation = [&, system = calls.saved.setInformation]
                                  (HANDLE h, PVOID info, ULONG length, FILE_INFORMATION_CLASS k)
        {
            if (k == WindowsCalls::renameInformation)
                events.add ("rename");

            if (k == WindowsCalls::basicInformation)
            {
                std::vector<WCHAR> path (32768);
                const auto n = GetFinalPathNameByHandleW (h, path.data(), (DWORD) path.size(), 0);
                const juce::String name (path.data(), (size_t) n);
                const auto attributes = static_cast<const FILE_BASIC_INFO*> (info)->FileAttributes;

                if (name.contains (".oh-staging-") && name.endsWith ("\\Velquin.vst3") && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
                    events.add ("staged bundle read-only");
            }

            return system (h, info, length, k);
        };

        ASSERT_TRUE (u.run (false));
    }

    EXPECT_EQ (events.indexOf ("staged bundle read-only"), 0) << events.joinIntoString (", ");

    const auto iniAttributes = GetFileAttributesW (u.bundle.getChildFile ("desktop.ini").getFullPathName().toWideCharPointer());
    ASSERT_NE (iniAttributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ (iniAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), (DWORD) (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    EXPECT_TRUE (u.run (false));
    EXPECT_TRUE (u.run (true));
    EXPECT_EQ (u.namesInTarget(), juce::StringArray());
}
#endif
