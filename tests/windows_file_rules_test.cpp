// Windows' own rules for the file work: sharing on a rename's destination,
// busy entries, modules a host has loaded, the marks Explorer reads. The system
// calls are watched (and made to fail) through the engine's seam, so the rules
// hold under Wine too, which checks none of them by itself.

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
 #include "Installer.h"
 #include "WindowsCalls.h"
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

    bool run (bool uninstall) const
    {
        PerFormat<bool> selection { true, false, false };
        PerFormat<PayloadArchive> payloads { PayloadArchive { archive.getData(), archive.getSize() }, {}, {} };
        return processSelectedFormats (selection, uninstall, { target, temp["CLAP"], temp["AAX"] }, "Velquin", payloads);
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

// A scanner or the indexer holding a fresh file makes renames and deletions
// fail for a moment with one of three errors; each is tried again with a
// growing wait, about five seconds in all, and only then counts as failed.
TEST (WindowsFileRules, BusyRenamesAndDeletionsAreTriedAgainForAboutFiveSeconds)
{
    struct Case
    {
        NTSTATUS status;
        const char* error;
        bool renames;         ///< else deletions
        int failures;         ///< -1: for ever
    };

    const Case cases[] = {
        { WindowsCalls::statusAccessDenied,     "access denied",     true,  3 },
        { WindowsCalls::statusSharingViolation, "sharing violation", true,  3 },
        { WindowsCalls::statusDeletePending,    "delete pending",    true,  3 },
        { WindowsCalls::statusAccessDenied,     "access denied",     false, 3 },
        { WindowsCalls::statusSharingViolation, "sharing violation", false, 3 },
        { WindowsCalls::statusDeletePending,    "delete pending",    false, 3 },
        { WindowsCalls::statusAccessDenied,     "access denied",     true,  -1 },
        { WindowsCalls::statusSharingViolation, "sharing violation", true,  -1 },
        { WindowsCalls::statusDeletePending,    "delete pending",    true,  -1 },
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

            if (c.failures >= 0)
            {
                EXPECT_TRUE (outcome);
                EXPECT_EQ (failed, c.failures);
                EXPECT_EQ ((int) waits.size(), c.failures);
                EXPECT_EQ (u.namesInTarget(), uninstall ? juce::StringArray() : juce::StringArray ({ "Velquin.vst3" }));
            }
            else
            {
                // The first rename never happens: the old bundle stays where it was, whole.
                EXPECT_FALSE (outcome);
                EXPECT_GE (waited, 5000u);
                EXPECT_LT (waited, 6000u);
                EXPECT_EQ (filesBelow (u.bundle), u.oldBundle);
                (*calls).setInformation = calls.saved.setInformation;
                EXPECT_EQ (u.namesInTarget(), juce::StringArray ({ "Velquin.vst3" }));
            }
        }
    }
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

            EXPECT_FALSE (u.run (uninstall));
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
