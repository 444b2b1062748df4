#include "Installer.h"
#include "InstallerHooks.h"
#include "RunLog.h"
#include "support/ChildProcess.h"
#include "support/DemoFacts.h"
#include "support/MadeRecords.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#if ! JUCE_WINDOWS
 #include <csignal>
 #include <dirent.h>
 #include <grp.h>
 #include <sched.h>
 #include <sys/file.h>
 #include <sys/mman.h>
 #include <sys/prctl.h>
 #include <sys/mount.h>
 #include <sys/stat.h>
 #include <sys/wait.h>
 #include <unistd.h>
#endif

namespace
{
//==============================================================================
// A folder tree as text, links never followed: relative path -> "dir",
// "link:<target>" or "file:<size>:<crc>:<mtime>".
using Tree = std::map<juce::String, juce::String>;

juce::String fileSignature (const juce::MemoryBlock& content, juce::int64 mtime)
{
    const auto crc = crc32 (0, static_cast<const Bytef*> (content.getData()), (uInt) content.getSize());
    return "file:" + juce::String ((juce::int64) content.getSize()) + ":" + juce::String::toHexString ((juce::int64) crc)
           + ":" + juce::String (mtime);
}

void addToTree (Tree& tree, const juce::File& root, const juce::File& f)
{
    const auto path = f.getRelativePathFrom (root).replaceCharacter ('\\', '/');   // the same keys on every platform

    if (f.isSymbolicLink())
    {
        tree[path] = "link:" + f.getNativeLinkedTarget();
    }
    else if (f.isDirectory())
    {
        tree[path] = "dir";

        for (auto& child : f.findChildFiles (juce::File::findFilesAndDirectories, false))
            addToTree (tree, root, child);
    }
    else
    {
        juce::MemoryBlock content;
        f.loadFileAsData (content);
        tree[path] = fileSignature (content, f.getLastModificationTime().toMilliseconds());
    }
}

/** Everything below root (root itself excluded). */
Tree snapshot (const juce::File& root)
{
    Tree tree;

    for (auto& child : root.findChildFiles (juce::File::findFilesAndDirectories, false))
        addToTree (tree, root, child);

    return tree;
}

/** The part of a snapshot below one folder, relative to it. */
Tree subtree (const Tree& tree, const juce::String& folder)
{
    Tree result;

    for (auto& [path, value] : tree)
        if (path.startsWith (folder + "/"))
            result[path.fromFirstOccurrenceOf (folder + "/", false, false)] = value;

    return result;
}

juce::StringArray stagingLeftovers (const juce::File& folder)
{
    juce::StringArray names;

    for (auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
        if (child.getFileName().contains (".oh-staging-"))
            names.add (child.getFileName());

    return names;
}

#if ! JUCE_WINDOWS
int modeOf (const juce::File& f)
{
    struct stat info;
    return lstat (f.getFullPathName().toRawUTF8(), &info) == 0 ? (int) (info.st_mode & 07777) : -1;
}
#endif

//==============================================================================
/** A bundle as the payload archives carry it: paths relative to the target folder. */
struct Bundle
{
    juce::String name;
    std::vector<juce::String> directories;                                  // directory entries
    std::vector<std::pair<juce::String, juce::MemoryBlock>> files;

    ZipFixture fixture() const
    {
        ZipFixture zip;

        for (auto& d : directories)
            zip.directory (d.replaceCharacter ('/', '\\'));

        for (auto& [path, content] : files)
            zip.file (path.replaceCharacter ('/', '\\'), content);

        return zip;
    }

    /** What extracting the archive into an empty folder gives. */
    Tree tree() const
    {
        Tree t;
        const auto addParents = [&t] (juce::String path)
        {
            for (auto slash = path.lastIndexOfChar ('/'); slash > 0; slash = path.lastIndexOfChar ('/'))
                t[path = path.substring (0, slash)] = "dir";
        };

        for (auto& d : directories)
        {
            t[d] = "dir";
            addParents (d);
        }

        for (auto& [path, content] : files)
        {
            t[path] = fileSignature (content, ZipFixture::entryTime().toMilliseconds());
            addParents (path);
        }

        return t;
    }

    /** Lays the bundle out directly, as an earlier install would have left it. */
    void writeTo (const juce::File& folder) const
    {
        for (auto& d : directories)
            folder.getChildFile (d).createDirectory();

        for (auto& [path, content] : files)
        {
            folder.getChildFile (path).getParentDirectory().createDirectory();
            folder.getChildFile (path).replaceWithData (content.getData(), content.getSize());
        }
    }
};

juce::MemoryBlock text (const juce::String& s)
{
    return { s.toRawUTF8(), s.getNumBytesAsUTF8() };
}

Bundle vst3Bundle (int seed, size_t moduleSize = 60000)
{
    return { "Velquin.vst3",
             { "Velquin.vst3/Contents" },
             { { "Velquin.vst3/desktop.ini", text ("[.ShellClassInfo]\r\nIconResource=Plugin.ico,0\r\nIconFile=Plugin.ico\r\nIconIndex=0\r\n") },
               { "Velquin.vst3/Contents/Resources/moduleinfo.json", text ("{ \"Name\": \"Velquin\", \"Seed\": " + juce::String (seed) + " }") },
               { "Velquin.vst3/Contents/x86_64-win/Velquin.vst3", ZipFixture::sampleContent (moduleSize, seed) } } };
}

Bundle clapBundle (int seed)
{
    return { "Velquin.clap", {}, { { "Velquin.clap", ZipFixture::sampleContent (50000, seed) } } };
}

Bundle aaxBundle (int seed)
{
    return { "Velquin.aaxplugin",
             { "Velquin.aaxplugin/Contents" },
             { { "Velquin.aaxplugin/desktop.ini", text ("[.ShellClassInfo]\r\n") },
               { "Velquin.aaxplugin/Contents/x64/Velquin.aaxplugin", ZipFixture::sampleContent (40000, seed) } } };
}

#if ! JUCE_WINDOWS
/** Empty for a child that our SIGKILL stopped or that exited 0; anything else
    (an abort from a sanitizer, a segfault, a failure exit) described. */
std::string endedByKillOrSuccess (int status)
{
    if (WIFSIGNALED (status))
        return WTERMSIG (status) == SIGKILL ? "" : "the run died of signal " + std::to_string (WTERMSIG (status));

    if (WIFEXITED (status))
        return WEXITSTATUS (status) == 0 ? "" : "the run exited with " + std::to_string (WEXITSTATUS (status));

    return "the run ended oddly";
}
#endif

/** A temporary machine: three target folders, the "new" bundles and their archives. */
struct Machine
{
    TempFolder temp;
    TempFolder stateTemp;                     // beside the folders, so that their snapshots leave it out
    juce::File state = stateTemp["state"];    // the runs' locks and records
    PerFormat<juce::File> folders { temp["VST3"], temp["CLAP"], temp["Avid/Audio/Plug-Ins"] };
    PerFormat<Bundle> fresh { vst3Bundle (11), clapBundle (12), aaxBundle (13) };
    PerFormat<Bundle> old { vst3Bundle (1), clapBundle (2), aaxBundle (3) };
    PerFormat<juce::MemoryBlock> archives { fresh[0].fixture().build(), fresh[1].fixture().build(), fresh[2].fixture().build() };

    PerFormat<PayloadArchive> payloads() const
    {
        PerFormat<PayloadArchive> p;

        for (size_t k = 0; k < p.size(); ++k)
            p[k] = { archives[k].getData(), archives[k].getSize() };

        return p;
    }

    void installOld (int k) const
    {
        old[(size_t) k].writeTo (folders[(size_t) k]);
    }

    bool run (PerFormat<bool> selection, bool uninstall) const
    {
        const auto result = processSelectedFormats (selection, uninstall, folders, "Velquin", payloads(), nullptr, { state });
        EXPECT_EQ (selection, (PerFormat<bool> { false, false, false })) << "every processed entry comes back false";
        return result;
    }

   #if ! JUCE_WINDOWS
    /** Runs VST3 in a child and kills it with SIGKILL after the delay. Empty
        when our kill ended it, or it finished first with success; otherwise
        how it ended (an abort, a crash, a failed run). */
    std::string killVst3RunAfter (bool uninstall, std::chrono::microseconds delay) const
    {
        const auto pid = fork();

        if (pid == 0)
        {
            PerFormat<bool> selection { true, false, false };
            _exit (processSelectedFormats (selection, uninstall, folders, "Velquin", payloads(), nullptr, { state }) ? 0 : 1);
        }

        std::this_thread::sleep_for (delay);
        kill (pid, SIGKILL);
        int status = 0;
        waitpid (pid, &status, 0);
        return endedByKillOrSuccess (status);
    }
   #endif
};

#if ! JUCE_WINDOWS
void makeLink (const juce::File& link, const juce::File& target)
{
    ASSERT_TRUE (juce::File::createSymbolicLink (link, target.getFullPathName(), false)) << link.getFullPathName();
    ASSERT_TRUE (link.isSymbolicLink());
}
#endif

#if ! JUCE_WINDOWS
/** Mode, owner and content of every entry below root, links not followed. */
Tree ownershipSnapshot (const juce::File& root)
{
    Tree tree = snapshot (root);

    for (auto& [path, value] : tree)
    {
        struct stat info;
        lstat (root.getChildFile (path).getFullPathName().toRawUTF8(), &info);
        value << " mode " << juce::String::toHexString ((int) (info.st_mode & 07777))
              << " owner " << (int) info.st_uid << ":" << (int) info.st_gid;
    }

    return tree;
}

/** Drops this process to the unprivileged user nobody for good. */
bool becomeNobody()
{
    return setgroups (0, nullptr) == 0 && setgid (65534) == 0 && setuid (65534) == 0;
}

/** Keeps the hooks of one test from reaching the next. */
struct ScopedHooks
{
    ScopedHooks() = default;
    ~ScopedHooks() { installerHooks() = {}; }
    InstallerHooks& operator*() { return installerHooks(); }
    InstallerHooks* operator->() { return &installerHooks(); }
};

struct ScopedUmask
{
    explicit ScopedUmask (mode_t m) : previous (umask (m)) {}
    ~ScopedUmask() { umask (previous); }
    mode_t previous;
};
#endif
} // namespace

//==============================================================================
// The operation's cases, each from a laid-out disk to an outcome and a disk.
TEST (Install, OperationCasesTable)
{
   #if ! JUCE_WINDOWS
    // A restrictive umask must not make a bundle unreadable to the hosts that load it.
    ScopedUmask umask077 (077);
   #endif

    struct Case
    {
        const char* name;
        std::function<void (Machine&)> before;
        PerFormat<bool> selection;
        bool uninstall;
        bool expected;
        std::function<void (Machine&, const Tree& before)> after;
    };

    const auto others = [] (Machine& m)
    {
        m.folders[0].getChildFile ("Other.vst3/Contents/other.bin").create();
        m.folders[1].getChildFile ("Other.clap").create();
    };

    const auto breakArchive = [] (Machine& m, int k)
    {
        m.archives[(size_t) k] = m.fresh[(size_t) k].fixture().withWrongCrc().build();
    };

    const Case cases[] = {
        { "reinstall replaces the whole bundle, extra files go, other bundles stay",
          [&] (Machine& m) { others (m); m.installOld (0);
                             m.folders[0].getChildFile ("Velquin.vst3/stale.txt").create();
                             m.folders[0].getChildFile ("Velquin.vst3/Contents/.hidden").create(); },
          { true, false, false }, false, true,
          [] (Machine& m, const Tree& before)
          {
              auto expected = m.fresh[0].tree();
              expected["Other.vst3"] = expected["Other.vst3/Contents"] = "dir";
              expected["Other.vst3/Contents/other.bin"] = before.at ("VST3/Other.vst3/Contents/other.bin");
              EXPECT_EQ (snapshot (m.folders[0]), expected);
             #if ! JUCE_WINDOWS
              EXPECT_EQ (modeOf (m.folders[0].getChildFile ("Velquin.vst3")), 0755);
              EXPECT_EQ (modeOf (m.folders[0].getChildFile ("Velquin.vst3/Contents/x86_64-win")), 0755);
              EXPECT_EQ (modeOf (m.folders[0].getChildFile ("Velquin.vst3/desktop.ini")), 0644);
             #endif
          } },
        { "missing target folder and parents are created, times from the entries",
          [] (Machine& m) { m.folders[2] = m.temp["deep/er/Avid/Audio/Plug-Ins"]; },
          { false, false, true }, false, true,
          [] (Machine& m, const Tree&)
          {
              EXPECT_EQ (snapshot (m.folders[2]), m.fresh[2].tree());   // the tree holds the entry times
             #if ! JUCE_WINDOWS
              EXPECT_EQ (modeOf (m.temp["deep"]), 0755);
              EXPECT_EQ (modeOf (m.folders[2]), 0755);
             #endif
          } },
        { "all three formats",
          [] (Machine&) {}, { true, true, true }, false, true,
          [] (Machine& m, const Tree&)
          {
              for (size_t k = 0; k < 3; ++k)
                  EXPECT_EQ (snapshot (m.folders[k]), m.fresh[k].tree()) << formatNames[(int) k];
          } },
        { "uninstall of an absent bundle succeeds and touches nothing",
          others, { true, true, false }, true, true,
          [] (Machine& m, const Tree& before) { EXPECT_EQ (snapshot (m.temp.get()), before); } },
        { "uninstall removes only the bundles",
          [&] (Machine& m) { others (m); m.installOld (0); m.installOld (1); m.installOld (2);
                             m.folders[0].getChildFile ("Velquin.vst3/.hidden/x").create(); },
          { true, true, true }, true, true,
          [] (Machine& m, const Tree& before)
          {
              Tree expected;
              for (auto& [path, value] : before)
                  if (! path.contains ("Velquin."))
                      expected[path] = value;
              EXPECT_EQ (snapshot (m.temp.get()), expected);
          } },
        { "nothing selected: false, nothing changes",
          [&] (Machine& m) { others (m); m.installOld (0); },
          { false, false, false }, false, false,
          [] (Machine& m, const Tree& before) { EXPECT_EQ (snapshot (m.temp.get()), before); } },
        { "first format fails, second succeeds: false",
          [&] (Machine& m) { m.installOld (0); breakArchive (m, 0); },
          { true, true, false }, false, false,
          [] (Machine& m, const Tree& before)
          {
              EXPECT_EQ (snapshot (m.folders[0]), subtree (before, "VST3"));
              EXPECT_EQ (snapshot (m.folders[1]), m.fresh[1].tree());
          } },
        { "first format succeeds, second fails: false",
          [&] (Machine& m) { m.installOld (1); breakArchive (m, 1); },
          { true, true, false }, false, false,
          [] (Machine& m, const Tree& before)
          {
              EXPECT_EQ (snapshot (m.folders[0]), m.fresh[0].tree());
              EXPECT_EQ (snapshot (m.folders[1]), subtree (before, "CLAP"));
          } },
       #if ! JUCE_WINDOWS   // links on Windows need a privilege the tests do not assume
        { "a bundle that is a link to a folder elsewhere is replaced as a link",
          [] (Machine& m)
          {
              m.old[0].writeTo (m.temp["elsewhere"]);
              m.folders[0].createDirectory();
              makeLink (m.folders[0].getChildFile ("Velquin.vst3"), m.temp["elsewhere/Velquin.vst3"]);
          },
          { true, false, false }, false, true,
          [] (Machine& m, const Tree& before)
          {
              EXPECT_TRUE (before.at ("VST3/Velquin.vst3").startsWith ("link:"));
              EXPECT_EQ (snapshot (m.folders[0]), m.fresh[0].tree());
              EXPECT_EQ (snapshot (m.temp["elsewhere"]), subtree (before, "elsewhere"));
              EXPECT_FALSE (subtree (before, "elsewhere").empty());
          } },
        { "uninstall of a linked bundle removes the link, never what it points to",
          [] (Machine& m)
          {
              m.old[0].writeTo (m.temp["elsewhere"]);
              m.folders[0].createDirectory();
              makeLink (m.folders[0].getChildFile ("Velquin.vst3"), m.temp["elsewhere/Velquin.vst3"]);
          },
          { true, false, false }, true, true,
          [] (Machine& m, const Tree& before)
          {
              EXPECT_TRUE (before.at ("VST3/Velquin.vst3").startsWith ("link:"));
              Tree expected = before;
              expected.erase ("VST3/Velquin.vst3");
              EXPECT_EQ (snapshot (m.temp.get()), expected);
          } },
       #endif
        { "a plain file at the bundle path is replaced by the bundle",
          [] (Machine& m) { m.folders[0].getChildFile ("Velquin.vst3").replaceWithText ("not a bundle"); },
          { true, false, false }, false, true,
          [] (Machine& m, const Tree&) { EXPECT_EQ (snapshot (m.folders[0]), m.fresh[0].tree()); } },
        { "a target folder that is a file fails and stays as it was",
          [] (Machine& m) { m.folders[0].replaceWithText ("a file where the folder should be"); },
          { true, false, false }, false, false,
          [] (Machine& m, const Tree& before) { EXPECT_EQ (snapshot (m.temp.get()), before); } },
        { "an empty target folder fails without touching the disk",
          [] (Machine& m) { m.folders[0] = juce::File(); },
          { true, true, false }, false, false,
          [] (Machine& m, const Tree&)
          {
              EXPECT_FALSE (juce::File ("/Velquin.vst3").exists());
              EXPECT_EQ (snapshot (m.folders[1]), m.fresh[1].tree());
          } },
        { "uninstall with an empty target folder fails too",
          [] (Machine& m) { m.folders[1] = juce::File(); m.installOld (0); },
          { true, true, false }, true, false,
          [] (Machine& m, const Tree&) { EXPECT_FALSE (m.folders[0].getChildFile ("Velquin.vst3").exists()); } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Machine m;
        c.before (m);
        const auto before = snapshot (m.temp.get());

        EXPECT_EQ (m.run (c.selection, c.uninstall), c.expected);
        c.after (m, before);

        for (auto& folder : m.folders)
        {
            if (folder != juce::File())
            {
                EXPECT_TRUE (stagingLeftovers (folder).isEmpty());
            }
        }
    }
}

// Archives that must not install: the old bundle stays byte for byte, nothing
// else appears anywhere, and no staging folder is left.
TEST (Install, DamagedOrHostileArchivesLeaveTheOldBundle)
{
    const auto good = vst3Bundle (21);
    const auto probe = "oh_escape_probe_" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64());

    struct Case
    {
        const char* name;
        std::function<juce::MemoryBlock()> archive;
    };

    const auto elsewhere = [] (const juce::File& root) { return root.getChildFile ("elsewhere"); };
    juce::File root;   // set per case, read by the symlink case

    // An entry whose name holds these two bytes, in both of its records.
    const auto nameWith = [&] (const char (&bytes)[3])
    {
        auto b = good.fixture().file ("Velquin.vst3\\Contents\\name_@@.txt", "named").build();
        auto* p = static_cast<char*> (b.getData());

        for (size_t i = 0; i + 1 < b.getSize(); ++i)
            if (p[i] == '@' && p[i + 1] == '@')
                std::memcpy (p + i, bytes, 2);

        return b;
    };

    const Case cases[] = {
        { "bad deflate data after good entries",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", ZipFixture::sampleContent (5000, 3)).withBadDeflateData().build(); } },
        { "a correct stream with a wrong CRC",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", ZipFixture::sampleContent (5000, 3)).withWrongCrc().build(); } },
        { "one bit flipped in the module's data",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", ZipFixture::sampleContent (200000, 3)).withFlippedBit().build(); } },
        { "an entry that escapes the target",
          [&] { return good.fixture().file ("..\\..\\" + probe, "escaped").build(); } },
        { "an entry that escapes through the bundle's name",
          [&] { return good.fixture().file ("Velquin.vst3\\..\\..\\" + probe, "escaped").build(); } },
        { "an entry beside the bundle",
          [&] { return good.fixture().file ("Other.vst3\\planted.txt", "planted").build(); } },
        { "a link entry, then a file through it",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\link", elsewhere (root).getFullPathName()).asSymbolicLink()
                           .file ("Velquin.vst3\\Contents\\link\\planted.txt", "planted").build(); } },
        { "an entry marked encrypted",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", "secret").withFlags (1).build(); } },
        { "an entry of an unknown method (LZMA), its bytes as stored",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", "packed").asStored().withMethod (14).build(); } },
        { "an entry whose size says ZIP64",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", "large").withClaimedSize (0xffffffff).build(); } },
        { "an entry whose compressed size says ZIP64",
          [&] { return good.fixture().file ("Velquin.vst3\\Contents\\late.bin", "large").withCompressedSize (0xffffffff).build(); } },
        { "a name that is not UTF-8 (an overlong '/')", [&] { return nameWith ("\xc0\xaf"); } },
        { "a name with a NUL in it",    [&] { return nameWith ("x\0"); } },
        { "a truncated archive",
          [&] { auto b = good.fixture().build(); b.setSize (b.getSize() - 30); return b; } },
        { "bytes that are no archive",
          [&] { return text ("PK but not really an archive at all, just some text"); } },
        { "an archive without entries",
          [&] { return ZipFixture().build(); } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Machine m;
        root = m.temp.get();
        elsewhere (root).createDirectory();
        m.installOld (0);
        m.archives[0] = c.archive();
        const auto before = snapshot (root);

        EXPECT_FALSE (m.run ({ true, false, false }, false));
        EXPECT_EQ (snapshot (root), before);
        EXPECT_FALSE (root.getParentDirectory().getChildFile (probe).exists());
    }

    // No archive bytes at all.
    Machine m;
    m.installOld (0);
    const auto before = snapshot (m.temp.get());
    PerFormat<bool> selection { true, false, false };
    EXPECT_FALSE (processSelectedFormats (selection, false, m.folders, "Velquin", PerFormat<PayloadArchive> {}));
    EXPECT_EQ (snapshot (m.temp.get()), before);
}

// Every entry arrives exactly as promised, and an entry that does not hold
// exactly what the directory promises is refused.
TEST (Install, EntriesMustHoldExactlyWhatWasPromised)
{
    auto bundle = vst3Bundle (51);
    bundle.files.push_back ({ "Velquin.vst3/Contents/empty.txt", {} });
    bundle.files.push_back ({ "Velquin.vst3/Contents/stored.bin", ZipFixture::sampleContent (3000, 52) });
    const auto module = ZipFixture::sampleContent (200000, 53);
    const auto moduleName = "Velquin.vst3\\Contents\\late.bin";
    const auto good = [&] { return bundle.fixture().asStored(); };   // the stored file's entry is the last one

    struct Case
    {
        const char* name;
        std::function<juce::MemoryBlock()> archive;
    };

    const Case damaged[] = {
        { "more bytes than promised",   [&] { return good().file (moduleName, module).withClaimedSize ((juce::uint32) module.getSize() - 1).build(); } },
        { "fewer bytes than promised",  [&] { return good().file (moduleName, module).withClaimedSize ((juce::uint32) module.getSize() + 1).build(); } },
        { "bytes where none are promised", [&] { return good().file (moduleName, module).withClaimedSize (0).build(); } },
        { "a stored entry of another size", [&] { return good().file (moduleName, module).asStored().withClaimedSize (100).build(); } },
        { "bad deflate data",           [&] { return good().file (moduleName, module).withBadDeflateData().build(); } },
        { "a wrong CRC",                [&] { return good().file (moduleName, module).withWrongCrc().build(); } },
        { "one bit flipped",            [&] { return good().file (moduleName, module).withFlippedBit().build(); } },
        { "compressed data cut short",  [&] { return good().file (moduleName, module).withCutData().build(); } },
    };

    {
        Machine m;
        m.installOld (0);
        m.archives[0] = good().build();

        EXPECT_TRUE (m.run ({ true, false, false }, false));
        EXPECT_EQ (snapshot (m.folders[0]), bundle.tree());
    }

    for (const auto& c : damaged)
    {
        SCOPED_TRACE (c.name);
        Machine m;
        m.installOld (0);
        m.archives[0] = c.archive();
        const auto before = snapshot (m.temp.get());

        EXPECT_FALSE (m.run ({ true, false, false }, false));
        EXPECT_EQ (snapshot (m.temp.get()), before);
    }
}

// An entry of many pieces (sample libraries ship files of hundreds of
// megabytes) arrives whole.
TEST (Install, ALargeEntryArrivesWhole)
{
    juce::MemoryBlock samples ((size_t) (20 << 20) + 4097, true);

    for (size_t i = 0; i < samples.getSize(); i += 1 << 20)
        samples[i] = (char) (i >> 20);   // a marker in every mebibyte

    auto bundle = vst3Bundle (61);
    bundle.files.push_back ({ "Velquin.vst3/Contents/Resources/Samples.bin", samples });

    Machine m;
    m.installOld (0);
    m.archives[0] = bundle.fixture().build();

    EXPECT_TRUE (m.run ({ true, false, false }, false));
    EXPECT_EQ (snapshot (m.folders[0]), bundle.tree());
}

#if ! JUCE_WINDOWS
// Root is not stopped by permissions: a read-only bind mount in a private mount
// namespace plays the folder we may not write, a small tmpfs the full disk.
TEST (Install, ReadOnlyTargetAndFullDiskLeaveTheOldBundle)
{
    Machine m;
    m.installOld (0);
    const auto before = snapshot (m.temp.get());

    for (const bool uninstall : { false, true })
    {
        SCOPED_TRACE (uninstall ? "uninstall, read-only" : "install, read-only");

        const auto message = inChild ([&]() -> std::string
        {
            if (auto failure = enterPrivateMounts(); ! failure.empty())
                return failure;

            const auto* folder = m.folders[0].getFullPathName().toRawUTF8();

            if (mount (folder, folder, nullptr, MS_BIND, nullptr) != 0
                 || mount (nullptr, folder, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                return "skip: no read-only bind mount here";

            if (m.run ({ true, false, false }, uninstall))
                return "reported success on a read-only folder";

            return snapshot (m.temp.get()) == before ? "" : "the disk changed";
        });

        if (message.rfind ("skip:", 0) == 0)
            GTEST_SKIP() << message;

        EXPECT_EQ (message, "");
        EXPECT_EQ (snapshot (m.temp.get()), before);
    }

    // A full disk: the new module does not fit beside the old bundle.
    m.archives[0] = vst3Bundle (31, 4 << 20).fixture().build();

    const auto message = inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (m.folders[0].getFullPathName().toRawUTF8(), "512k"); ! failure.empty())
            return failure;

        m.installOld (0);
        const auto full = snapshot (m.folders[0]);

        if (m.run ({ true, false, false }, false))
            return "reported success on a full disk";

        if (snapshot (m.folders[0]) != full)
            return "the old bundle changed, or a staging folder stayed";

        // With room again, the same install goes through.
        m.archives[0] = m.fresh[0].fixture().build();

        if (! m.run ({ true, false, false }, false) || snapshot (m.folders[0]) != m.fresh[0].tree())
            return "install failed once there was room";

        return {};
    });

    if (message.rfind ("skip:", 0) == 0)
        GTEST_SKIP() << message;

    EXPECT_EQ (message, "");
}

// A run killed at any moment leaves the old bundle or the new one, complete;
// the next run of that format clears the staging leftover.
TEST (Install, KilledRunLeavesOldOrNewBundleAndNextRunCleansUp)
{
    Machine m;
    auto bigBundle = vst3Bundle (41, 24 << 20);
    bigBundle.files.push_back ({ "Velquin.vst3/Contents/x86_64-win/Second.bin", ZipFixture::sampleContent (24 << 20, 42) });
    const auto bigArchive = bigBundle.fixture().build();
    const auto bigTree = bigBundle.tree();
    const auto smallArchive = m.old[0].fixture().build();
    const auto smallTree = m.old[0].tree();

    int killedMidRun = 0;

    for (const int delayMs : { 10, 40, 80, 120, 200, 400, 2000 })
    {
        SCOPED_TRACE ("killed after " + std::to_string (delayMs) + " ms");

        // Start from the small bundle, installed by the operation itself.
        m.archives[0] = smallArchive;
        ASSERT_TRUE (m.run ({ true, false, false }, false));
        ASSERT_EQ (snapshot (m.folders[0]), smallTree);

        m.archives[0] = bigArchive;
        EXPECT_EQ (m.killVst3RunAfter (false, std::chrono::milliseconds (delayMs)), "");

        const auto leftovers = stagingLeftovers (m.folders[0]);
        killedMidRun += leftovers.isEmpty() ? 0 : 1;

        for (auto& name : leftovers)
            EXPECT_EQ (modeOf (m.folders[0].getChildFile (name)), 0700) << "staging is owner-only";

        // Bundle path: old or new, complete, whatever the moment.
        auto bundleNow = snapshot (m.folders[0]);

        for (auto& name : leftovers)
            for (auto it = bundleNow.begin(); it != bundleNow.end();)
                it = it->first.startsWith (name) ? bundleNow.erase (it) : std::next (it);

        EXPECT_TRUE (bundleNow == smallTree || bundleNow == bigTree);

        // The next run of the format clears the leftover.
        m.archives[0] = smallArchive;
        EXPECT_TRUE (m.run ({ true, false, false }, false));
        EXPECT_EQ (snapshot (m.folders[0]), smallTree);
    }

    EXPECT_GT (killedMidRun, 0) << "no kill landed during an extraction; the case was not exercised";
}

// No temporary folder must not mean "/script.sh". Shown in a child process whose
// root is a temporary folder holding a script.sh that would otherwise go.
TEST (Install, LeftoverScriptWithNoTemporaryFolderLeavesTheRootAlone)
{
    TempFolder temp;
    const auto root = temp.get().getFullPathName();
    const auto pid = fork();
    ASSERT_GE (pid, 0);

    if (pid == 0)
    {
        if (chroot (root.toRawUTF8()) != 0 || chdir ("/") != 0)
            _exit (2);

        const juce::File script ("/script.sh");

        if (! script.replaceWithText ("#!/bin/sh\n"))
            _exit (3);

        removeLeftoverScript (juce::File());
        _exit (script.existsAsFile() ? 0 : 1);
    }

    int status = 0;
    ASSERT_EQ (waitpid (pid, &status, 0), pid);
    ASSERT_TRUE (WIFEXITED (status));
    EXPECT_EQ (WEXITSTATUS (status), 0) << "1: the script at the root was removed; 2: no chroot (the tests run as root); 3: no script written";
    EXPECT_TRUE (temp["script.sh"].existsAsFile());
}

//==============================================================================
// Another user can add to the target folder (sticky, every user may write) and
// races root there: in a tight loop it puts links to a canary tree laid out
// like a bundle at our bundle names whenever they are free, and tries to swap
// every entry of ours (staging folders, the bundle, and what it can reach
// below them) for such links; only its own entries let it. Through hundreds of
// installs and uninstalls root must never write, chmod or delete anything in
// the canary tree. (Where others may also rename root's entries, no sticky
// bit, root changes nothing at all: HostileDisk's races.)
TEST (Install, AnotherUserSwappingOurEntriesForLinksCannotSteerRoot)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the other user";

    Machine m;
    const auto message = inChild ([&]() -> std::string
    {
        // On a tmpfs of our own: the race is about names, not about the disk's speed.
        if (auto failure = enterPrivateTmpfs (m.temp.get().getFullPathName().toRawUTF8(), "64m"); ! failure.empty())
            return failure;

        const auto target = m.temp["shared"];
        const auto canary = m.temp["canary"];
        target.createDirectory();
        chmod (target.getFullPathName().toRawUTF8(), 01777);   // world-writable, sticky

        // The canary looks like a staging folder and a bundle, so writes through a link would land in it.
        m.old[0].writeTo (canary);
        m.old[1].writeTo (canary);
        for (auto* path : { "Velquin.vst3/desktop.ini", "Velquin.vst3/Contents/x86_64-win/Velquin.vst3", "Velquin.clap" })
            chmod (canary.getChildFile (path).getFullPathName().toRawUTF8(), 0600);
        chmod (canary.getChildFile ("Velquin.vst3/Contents").getFullPathName().toRawUTF8(), 0700);
        const auto before = ownershipSnapshot (canary);

        m.folders[0] = m.folders[1] = target;
        auto* swaps = static_cast<std::atomic<int>*> (mmap (nullptr, sizeof (std::atomic<int>), PROT_READ | PROT_WRITE,
                                                            MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        new (swaps) std::atomic<int> (0);

        const auto attacker = fork();

        if (attacker == 0)
        {
            // Dies with the test, even when the test dies first (set after the
            // change of user, which clears it).
            if (! becomeNobody() || prctl (PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() == 1)
                _exit (1);

            const auto base = target.getFullPathName().toStdString() + "/";
            const auto link = canary.getFullPathName().toStdString();

            for (int n = 0;; ++n)
            {
                for (auto* bundle : { "Velquin.vst3", "Velquin.clap" })
                    if (symlink (link.c_str(), (base + bundle).c_str()) == 0)
                        ++*swaps;

                auto* dir = opendir (base.c_str());

                if (dir == nullptr)
                    continue;

                std::vector<std::string> names;

                while (auto* e = readdir (dir))
                    if (std::string (e->d_name).find ("Velquin") != std::string::npos
                         && std::string (e->d_name).find (".moved") == std::string::npos)
                        names.push_back (e->d_name);

                closedir (dir);

                for (auto& name : names)
                {
                    for (auto* below : { "", "/Velquin.vst3", "/Velquin.vst3/Contents", "/Velquin.vst3/Contents/x86_64-win" })
                    {
                        const auto path = base + name + below;
                        const auto aside = path + ".moved" + std::to_string (n);

                        if (rename (path.c_str(), aside.c_str()) == 0)
                        {
                            symlink (link.c_str(), path.c_str());
                            ++*swaps;
                        }
                    }
                }
            }
        }

        // At least 300 runs and 100 swaps; a busy machine takes longer, never fewer.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (100);
        int runs = 0;

        for (; runs < 300 || swaps->load() < 100; ++runs)
        {
            if (std::chrono::steady_clock::now() > deadline)
                break;

            PerFormat<bool> selection { true, true, false };
            processSelectedFormats (selection, runs % 3 == 2, m.folders, "Velquin", m.payloads(), nullptr, { m.state });
        }

        // Still racing when we stop it: an attacker that gave up or never started proves nothing.
        int attackerStatus = 0;
        kill (attacker, SIGKILL);
        waitpid (attacker, &attackerStatus, 0);

        if (! WIFSIGNALED (attackerStatus) || WTERMSIG (attackerStatus) != SIGKILL)
            return "the other user stopped before our kill (" + endedByKillOrSuccess (attackerStatus)
                   + "): its set-up failed, or it died";

        if (swaps->load() < 100)
            return "the other user swapped only " + std::to_string (swaps->load()) + " times in " + std::to_string (runs) + " runs";

        const auto after = ownershipSnapshot (canary);

        if (after != before)
        {
            std::string changed;

            for (auto& [path, value] : after)
                if (before.count (path) == 0 || before.at (path) != value)
                    changed += " " + path.toStdString();

            for (auto& [path, value] : before)
                if (after.count (path) == 0)
                    changed += " -" + path.toStdString();

            return "the canary tree changed after " + std::to_string (runs) + " runs:" + changed;
        }

        return {};
    }, 120);

    EXPECT_EQ (message, "");
}

// Any number of instances may run at once: one at a time works on a bundle,
// the others are told it is busy; none deletes a staging folder that another
// one is using, and nothing is left over.
TEST (Install, TwoProcessesInstallingTheSameFormatAtOnceTakeTurns)
{
    Machine m;
    const auto message = inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (m.temp.get().getFullPathName().toRawUTF8(), "64m"); ! failure.empty())
            return failure;

        auto* busy = static_cast<std::atomic<int>*> (mmap (nullptr, sizeof (std::atomic<int>), PROT_READ | PROT_WRITE,
                                                           MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        new (busy) std::atomic<int> (0);

        pid_t runners[2];

        for (auto& pid : runners)
        {
            if ((pid = fork()) == 0)
            {
                int otherFailures = 0;
                juce::String lastLine;
                RunLog::setSystemCall ([&] (RunLog::Event, const juce::String& line) { lastLine = line; });

                for (int i = 0; i < 100; ++i)
                {
                    PerFormat<bool> selection { true, false, false };

                    if (processSelectedFormats (selection, false, m.folders, "Velquin", m.payloads(), nullptr, { m.state }))
                        continue;

                    if (lastLine.contains ("another run is installing or removing Velquin.vst3"))
                        ++*busy;
                    else
                        ++otherFailures;
                }

                _exit (otherFailures > 0 ? 1 : 0);
            }
        }

        std::string result;

        for (auto pid : runners)
        {
            int status = 0;
            waitpid (pid, &status, 0);

            if (! WIFEXITED (status) || WEXITSTATUS (status) != 0)
                result += "a process failed for another reason than a busy bundle; ";
        }

        // Runs that never overlapped would show nothing.
        if (busy->load() == 0)
            result += "no run found the bundle busy; ";

        if (snapshot (m.folders[0]) != m.fresh[0].tree())
            result += "the bundle is not the complete new one; ";

        if (! stagingLeftovers (m.folders[0]).isEmpty())
            result += "staging folders were left; ";

        return result;
    }, 120);

    if (message.rfind ("skip:", 0) == 0)
        GTEST_SKIP() << message;

    EXPECT_EQ (message, "");
}

// An uninstall killed at any moment leaves the whole old bundle or none at the
// bundle path; and success means the bundle is gone, as the disk shows it.
TEST (Install, UninstallLeavesTheWholeBundleOrNoneAndChecksTheDisk)
{
    Machine m;

    // Many small files, so that deleting them one by one takes a while.
    auto crowded = m.old[0];
    for (int i = 0; i < 3000; ++i)
        crowded.files.push_back ({ "Velquin.vst3/Contents/Resources/r" + juce::String (i) + ".txt", text (juce::String (i)) });

    // On a tmpfs of our own: what is at stake is the order of the steps, not the
    // disk, and a busy shared disk would only make laying out the bundle slow.
    const auto killed = inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (m.temp.get().getFullPathName().toRawUTF8(), "256m"); ! failure.empty())
            return failure;

        // One whole uninstall in a child, timed from the fork: the kills are
        // spread across that, however fast or busy this machine is.
        crowded.writeTo (m.folders[0]);
        const auto started = std::chrono::steady_clock::now();

        if (const auto pid = fork(); pid == 0)
        {
            PerFormat<bool> selection { true, false, false };
            _exit (processSelectedFormats (selection, true, m.folders, "Velquin", m.payloads(), nullptr, { m.state }) ? 0 : 1);
        }
        else if (int status = 0; waitpid (pid, &status, 0) != pid || endedByKillOrSuccess (status) != "")
        {
            return "the timed uninstall failed";
        }

        const auto wholeUs = std::chrono::duration_cast<std::chrono::microseconds> (std::chrono::steady_clock::now() - started).count();

        std::string failures;
        int killedMidRun = 0;

        for (const auto fraction : { 0.0, 0.1, 0.25, 0.4, 0.55, 0.7, 0.85 })
        {
            const auto delayUs = (long long) ((double) wholeUs * fraction);
            const auto when = "killed after " + std::to_string (delayUs) + " us: ";
            crowded.writeTo (m.folders[0]);
            const auto crowdedTree = snapshot (m.folders[0]);

            if (auto ended = m.killVst3RunAfter (true, std::chrono::microseconds (delayUs)); ! ended.empty())
                failures += when + ended + "; ";

            auto bundleNow = snapshot (m.folders[0]);
            const auto leftovers = stagingLeftovers (m.folders[0]);
            killedMidRun += leftovers.isEmpty() ? 0 : 1;

            for (auto& name : leftovers)
                for (auto it = bundleNow.begin(); it != bundleNow.end();)
                    it = it->first.startsWith (name) ? bundleNow.erase (it) : std::next (it);

            if (bundleNow != crowdedTree && ! bundleNow.empty())
                failures += when + std::to_string (bundleNow.size()) + " of " + std::to_string (crowdedTree.size()) + " entries at the bundle path; ";

            PerFormat<bool> selection { true, false, false };

            if (! processSelectedFormats (selection, true, m.folders, "Velquin", m.payloads(), nullptr, { m.state }) || ! snapshot (m.folders[0]).empty())
                failures += when + "the next uninstall did not clear the folder; ";
        }

        if (killedMidRun == 0)
            failures += "no kill landed while the bundle was being deleted (a whole uninstall took "
                        + std::to_string (wholeUs) + " us); the case was not exercised";

        return failures;
    }, 120);

    if (killed.rfind ("skip:", 0) == 0)
        GTEST_SKIP() << killed;

    EXPECT_EQ (killed, "");

    // A bundle in a folder this user cannot look into is not "gone".
    if (geteuid() == 0)
    {
        m.installOld (0);
        const auto before = snapshot (m.folders[0]);
        chmod (m.folders[0].getFullPathName().toRawUTF8(), 0700);

        const auto message = inChild ([&]() -> std::string
        {
            if (! becomeNobody())
                return "skip: could not become nobody";

            return m.run ({ true, false, false }, true) ? "reported success for a bundle it could not even see" : "";
        });

        chmod (m.folders[0].getFullPathName().toRawUTF8(), 0755);
        EXPECT_EQ (message, "");
        EXPECT_EQ (snapshot (m.folders[0]), before);
    }
}

// Where the filesystem cannot swap two entries, the bundle is replaced in two
// renames. A run killed between them leaves the old bundle set aside and the
// bundle path empty; whatever comes next puts it back first, and nothing ever
// deletes it while the bundle path is empty.
TEST (Install, ReplacementInTwoRenamesSurvivesAKillBetweenThem)
{
    ScopedHooks hooks;
    hooks->forceTwoRenames = true;

    {
        SCOPED_TRACE ("uninterrupted");
        Machine m;
        m.installOld (0);
        m.installOld (1);
        EXPECT_TRUE (m.run ({ true, true, false }, false));
        EXPECT_EQ (snapshot (m.folders[0]), m.fresh[0].tree());
        EXPECT_EQ (snapshot (m.folders[1]), m.fresh[1].tree());
    }

    struct Next
    {
        const char* name;
        std::function<void (Machine&)> run;
        std::function<Tree (Machine&, const Tree& old)> expected;
    };

    const Next nexts[] = {
        { "an install that fails keeps the old bundle",
          [] (Machine& m) { m.archives[0] = m.fresh[0].fixture().withWrongCrc().build(); EXPECT_FALSE (m.run ({ true, false, false }, false)); },
          [] (Machine&, const Tree& old) { return old; } },
        { "an install replaces it",
          [] (Machine& m) { EXPECT_TRUE (m.run ({ true, false, false }, false)); },
          [] (Machine& m, const Tree&) { return m.fresh[0].tree(); } },
        { "an uninstall removes it",
          [] (Machine& m) { EXPECT_TRUE (m.run ({ true, false, false }, true)); },
          [] (Machine&, const Tree&) { return Tree {}; } },
        { "another format's run in the same folder leaves it whole, for its own format",
          [] (Machine& m)
          {
              const auto before = subtree (snapshot (m.folders[0]), ".Velquin.vst3.oh-aside");
              EXPECT_TRUE (m.run ({ false, true, false }, false));
              EXPECT_EQ (subtree (snapshot (m.folders[0]), ".Velquin.vst3.oh-aside"), before);
              restoreSetAsideBundles (m.folders, "Velquin", { m.state });
          },
          [] (Machine& m, const Tree& old)
          {
              auto t = old;
              for (auto& [path, value] : m.fresh[1].tree())
                  t[path] = value;
              return t;
          } },
        { "the next start puts it back",
          [] (Machine& m) { restoreSetAsideBundles (m.folders, "Velquin", { m.state }); },
          [] (Machine&, const Tree& old) { return old; } },
    };

    for (auto& next : nexts)
    {
        SCOPED_TRACE (next.name);
        Machine m;
        m.folders[1] = m.folders[0];   // the other format's run looks into the same folder
        m.installOld (0);
        const auto old = snapshot (m.folders[0]);

        const auto pid = fork();

        if (pid == 0)
        {
            installerHooks().betweenRenames = [] { raise (SIGKILL); };
            PerFormat<bool> selection { true, false, false };
            processSelectedFormats (selection, false, m.folders, "Velquin", m.payloads(), nullptr, { m.state });
            _exit (0);
        }

        int status = 0;
        waitpid (pid, &status, 0);
        ASSERT_TRUE (WIFSIGNALED (status) && WTERMSIG (status) == SIGKILL) << "the run was not stopped between the renames: " << endedByKillOrSuccess (status);

        EXPECT_FALSE (m.folders[0].getChildFile ("Velquin.vst3").exists());
        EXPECT_EQ (subtree (snapshot (m.folders[0]), ".Velquin.vst3.oh-aside"), subtree (old, "Velquin.vst3"))
            << "the old bundle waits, whole";

        next.run (m);

        const auto expected = next.expected (m, old);
        auto now = snapshot (m.folders[0]);

        for (auto& name : stagingLeftovers (m.folders[0]))
            for (auto it = now.begin(); it != now.end();)
                it = it->first.startsWith (name) ? now.erase (it) : std::next (it);

        EXPECT_EQ (now, expected);
    }
}

#else
// These need what only POSIX has: private mounts, fork and kill, other users'
// ownership and symbolic links. Windows' own cases are in replacement_test.cpp.
TEST (Install, ReadOnlyTargetAndFullDiskLeaveTheOldBundle)       { GTEST_SKIP() << "bind mounts and tmpfs are Linux facilities"; }
TEST (Install, KilledRunLeavesOldOrNewBundleAndNextRunCleansUp)  { GTEST_SKIP() << "forks and kills a child: POSIX only"; }
TEST (Install, LeftoverScriptWithNoTemporaryFolderLeavesTheRootAlone) { GTEST_SKIP() << "needs fork and chroot: POSIX only"; }
TEST (Install, AnotherUserSwappingOurEntriesForLinksCannotSteerRoot) { GTEST_SKIP() << "runs a second user and private mounts: POSIX only"; }
TEST (Install, TwoProcessesInstallingTheSameFormatAtOnceTakeTurns)    { GTEST_SKIP() << "forks two installers on a private tmpfs: POSIX only"; }
TEST (Install, UninstallLeavesTheWholeBundleOrNoneAndChecksTheDisk)  { GTEST_SKIP() << "forks and kills a child: POSIX only"; }
TEST (Install, ReplacementInTwoRenamesSurvivesAKillBetweenThem)      { GTEST_SKIP() << "forks and kills a child: POSIX only"; }
#endif

// Leftovers of our own runs go; anything else of a similar name stays. The
// rows that need another user or a link run on POSIX only.
TEST (Install, OnlyOurOwnStagingLeftoversAreRemoved)
{
    Machine m;
    const auto folder = m.folders[0];
    m.temp["elsewhere/keep.txt"].create();

    const auto ours = folder.getChildFile (".Velquin.vst3.oh-staging-a1B2c3");
    ours.getChildFile ("Velquin.vst3/partial.bin").create();
    ASSERT_TRUE (recordAsMade (m.state, "Velquin.vst3", StateFolder::Made::staging, ours));

    std::vector<juce::File> kept { folder.getChildFile (".Velquin.vst3.oh-staging-longer1"),
                                   folder.getChildFile (".Velquin.clap.oh-staging-a1B2c3"),
                                   folder.getChildFile (".Velquin.vst3.oh-staging-other") };

   #if ! JUCE_WINDOWS
    kept.push_back (folder.getChildFile (".Velquin.vst3.oh-staging-foreig"));
   #endif

    for (auto& f : kept)
        f.getChildFile ("x").create();

   #if ! JUCE_WINDOWS
    // Another user's folder of our name, even when recorded, and a link of our name: not ours to delete.
    ASSERT_TRUE (recordAsMade (m.state, "Velquin.vst3", StateFolder::Made::staging, kept[3]));
    ASSERT_EQ (chown (kept[3].getFullPathName().toRawUTF8(), 65534, 65534), 0);
    const auto link = folder.getChildFile (".Velquin.vst3.oh-staging-link00");
    link.getParentDirectory().createDirectory();
    makeLink (link, m.temp["elsewhere"]);
   #endif

    for (const bool uninstall : { true, false })
    {
        EXPECT_TRUE (m.run ({ true, false, false }, uninstall));
        EXPECT_FALSE (ours.exists());

        for (auto& f : kept)
            EXPECT_TRUE (f.getChildFile ("x").exists()) << f.getFileName();

       #if ! JUCE_WINDOWS
        EXPECT_TRUE (link.isSymbolicLink());
       #endif
        EXPECT_TRUE (m.temp["elsewhere/keep.txt"].existsAsFile());
    }
}

TEST (Install, LeftoverScriptGoesOnlyWhenItIsOurOwnPlainFile)
{
    struct Case
    {
        const char* name;
        std::function<void (const juce::File& script, const juce::File& elsewhere)> make;
        bool removed;
    };

    // Windows has no such script, and its temporary folder is the user's own:
    // an elevated run deletes nothing there by path.
   #if JUCE_WINDOWS
    constexpr bool ownFileGoes = false;
   #else
    constexpr bool ownFileGoes = true;
   #endif

    const Case cases[] = {
        { "our own plain file", [] (const juce::File& s, const juce::File&) { s.replaceWithText ("#!/bin/sh\n"); }, ownFileGoes },
        { "nothing there", [] (const juce::File&, const juce::File&) {}, true },
        { "a folder", [] (const juce::File& s, const juce::File&) { s.getChildFile ("inside").create(); }, false },
       #if ! JUCE_WINDOWS
        { "a link to a file", [] (const juce::File& s, const juce::File& e) { makeLink (s, e); }, false },
        { "another user's file", [] (const juce::File& s, const juce::File&)
          {
              s.replaceWithText ("#!/bin/sh\n");
              ASSERT_EQ (chown (s.getFullPathName().toRawUTF8(), 65534, 65534), 0);
          }, false },
       #endif
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TempFolder temp;
        const auto tmp = temp["tmp"];
        tmp.createDirectory();
        const auto script = tmp.getChildFile ("script.sh");
        const auto elsewhere = temp["elsewhere.sh"];
        elsewhere.replaceWithText ("keep me");

        c.make (script, elsewhere);
        removeLeftoverScript (tmp);

        EXPECT_EQ (! script.exists() && ! script.isSymbolicLink(), c.removed);
        EXPECT_EQ (elsewhere.loadFileAsString(), "keep me");
    }
}

// The embedded payloads install exactly the bundles they were packed from,
// whatever the product, and uninstall again.
TEST (Install, EmbeddedPayloadsInstallTheirBundlesByteForByte)
{
    TempFolder temp;
    const PerFormat<juce::File> folders { temp["VST3"], temp["CLAP"], temp["Avid/Audio/Plug-Ins"] };
    const auto name = Product::displayName();
    PerFormat<bool> selection { true, true, true };

    ASSERT_TRUE (processSelectedFormats (selection, false, folders, name));

    // Every file and folder below a bundle; files with their bytes.
    const auto tree = [] (const juce::File& bundle)
    {
        // Bytes as std::string: JUCE compares two empty blocks with memcmp (nullptr, nullptr, 0).
        std::map<juce::String, std::string> entries;
        const auto add = [&] (const juce::String& path, const juce::File& f)
        {
            auto& bytes = entries[path + (f.isDirectory() ? "/" : "")];
            juce::MemoryBlock content;
            if (f.existsAsFile() && f.loadFileAsData (content))
                bytes.assign (static_cast<const char*> (content.getData()), content.getSize());
        };

        add (".", bundle);
        for (const auto& f : bundle.findChildFiles (juce::File::findFilesAndDirectories, true))
            add (f.getRelativePathFrom (bundle), f);

        return entries;
    };

    const auto source = bundleSourceFolder();
    for (int k = 0; k < numFormats; ++k)
    {
        SCOPED_TRACE (formatNames[k]);
        const auto installed = bundlePath (folders[(size_t) k], name, k);
        const auto original = source.getChildFile (bundleName (name, k));
        ASSERT_TRUE (original.exists()) << original.getFullPathName();
        EXPECT_EQ (installed.isDirectory(), original.isDirectory());
        EXPECT_TRUE (tree (installed) == tree (original));
        EXPECT_EQ (folders[(size_t) k].getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1) << "nothing beside the bundle";
    }

    if (isDemoProduct())
    {
        EXPECT_EQ (tree (bundlePath (folders[0], name, 0)).size(), 8u);   // the bundle, four files, three folders
        EXPECT_TRUE (folders[0].getChildFile ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3").existsAsFile());
        EXPECT_TRUE (folders[2].getChildFile ("Velquin.aaxplugin/Contents/x64/Velquin.aaxplugin").existsAsFile());
    }

    selection = { true, true, true };
    ASSERT_TRUE (processSelectedFormats (selection, true, folders, name));

    for (auto& folder : folders)
    {
        EXPECT_TRUE (folder.isDirectory());
        EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    }
}
