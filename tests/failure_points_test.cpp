// Every call that changes the disk, made to fail in turn: whatever fails, the
// run says so, the bundle path holds a whole bundle (or, after an uninstall,
// a whole one or none), and the next run cleans up and succeeds.
#include "Installer.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include "PosixCalls.h"
 #include "support/FaultInjection.h"

 #include "FileOps.h"
 #include "InstallerHooks.h"
 #include "StateFolder.h"

 #include <algorithm>
 #include <cerrno>
 #include <fcntl.h>
 #include <filesystem>
 #include <iostream>
 #include <map>
 #include <set>
 #include <sys/stat.h>
 #include <unistd.h>

namespace
{
juce::MemoryBlock vst3Archive (int seed)
{
    return ZipFixture()
        .directory ("Velquin.vst3\\Contents")
        .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (3000, seed))
        .file ("Velquin.vst3\\desktop.ini", juce::String ("[.ShellClassInfo]\r\n"))
        .build();
}

bool runVst3 (const juce::File& folder, bool uninstall, const juce::MemoryBlock& archive, const juce::File& state = {})
{
    PerFormat<bool> selection { true, false, false };
    return processSelectedFormats (selection, uninstall, { folder, {}, {} }, "Velquin",
                                   { PayloadArchive { archive.getData(), archive.getSize() }, {}, {} }, nullptr, { state });
}

juce::String moduleOf (const juce::File& folder)
{
    return folder.getChildFile ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3").loadFileAsString();
}

//==============================================================================
/** Every entry below a folder, links not followed: path -> kind and content. */
std::map<std::string, std::string> treeOf (const juce::File& root)
{
    std::map<std::string, std::string> tree;

    for (const auto& entry : juce::RangedDirectoryIterator (root, true, "*", juce::File::findFilesAndDirectories))
    {
        const auto f = entry.getFile();
        tree[f.getRelativePathFrom (root).toStdString()] = entry.isDirectory() ? std::string ("dir") : f.loadFileAsString().toStdString();
    }

    return tree;
}

/** The errnos a call may give, from its manual page; EIO, ENOSPC, EDQUOT and
    EROFS wherever the disk can fail it, EINTR where a signal can. */
std::vector<int> errorsOf (const std::string& function)
{
    if (function == "write")       return { EIO, ENOSPC, EDQUOT, EINTR };
    if (function == "fsync")       return { EIO, ENOSPC, EDQUOT, EROFS, EINTR };
    if (function == "close")       return { EIO, ENOSPC, EDQUOT, EINTR };
    if (function == "openat")      return { EIO, ENOSPC, EDQUOT, EROFS, EINTR };
    if (function == "flock")       return { EINTR, ENOLCK };
    if (function == "syncfs")      return { EIO, ENOSPC, EDQUOT };
    if (function == "unlinkat" || function == "fchmod" || function == "futimens")
        return { EIO, EROFS };

    if (function == "renameat" || function == "renameat2")
        return { EIO, ENOSPC, EDQUOT, EROFS, FaultInjection::lost };

    return { EIO, ENOSPC, EDQUOT, EROFS };   // mkdirat
}

/** What a run's calls show of its order, each fault on a line: a file written
    and closed without an fsync through the descriptor that wrote it (an error
    the disk reports only then would be lost), and a folder made and not made
    durable in its parent by a sync after it, unless the run deleted it again. */
std::string orderFaults (const std::vector<FaultInjection::Call>& calls)
{
    std::string found;
    std::map<int, std::string> unsynced;   // descriptor -> what it wrote

    for (size_t i = 0; i < calls.size(); ++i)
    {
        const auto& call = calls[i];

        if (call.function == "write")
            unsynced[call.fd] = call.path;
        else if (call.function == "fsync")
            unsynced.erase (call.fd);
        else if (call.function == "close" && unsynced.erase (call.fd) != 0)
            found += "#" + std::to_string (i) + " " + call.path + " closed without an fsync through the descriptor that wrote it\n";

        if (call.function != "mkdirat")
            continue;

        const auto parent = call.path.substr (0, call.path.rfind ('/'));
        bool synced = false, deleted = false;

        for (size_t j = i + 1; j < calls.size() && ! synced && ! deleted; ++j)
        {
            synced = calls[j].function == "fsync" && calls[j].path == parent;
            deleted = calls[j].function == "unlinkat" && (call.path + "/").rfind (calls[j].path + "/", 0) == 0;
        }

        if (! synced && ! deleted)
            found += "#" + std::to_string (i) + " " + call.path + " made, and " + parent + " never synced after it\n";
    }

    return found;
}

/** One operation of the table, from a laid-out disk. */
struct Operation
{
    const char* name;
    bool uninstall;
    bool oldBundleFirst;
    bool twoRenames;

    /** On a filesystem whose renames take no flags, with an empty folder of
        another user at the set-aside name: a plain rename would replace it. */
    bool noRenameFlags = false;
};

/** The seam over one run: failing call n with error, if asked, and renames
    without flags where the operation's filesystem has none. There another
    user makes an empty folder of theirs at a rename's destination, if it is
    free, just before the rename: a plain rename would replace it. */
struct Seam : FaultInjection
{
    explicit Seam (const Operation& op)
    {
        if (! op.noRenameFlags)
            return;

        withoutRenameFlags();
        beforePlainRename = [this] (int folder, const char* name)
        {
            if (mkdirat (folder, name, 0755) == 0 && fchownat (folder, name, 65534, 65534, AT_SYMLINK_NOFOLLOW) == 0)
                intruded.push_back (std::filesystem::read_symlink ("/proc/self/fd/" + std::to_string (folder)) / name);
        };
    }

    /** The other user's folders that are no longer theirs, empty, where they made them. */
    std::string intrusionsLost() const
    {
        std::string found;

        for (const auto& path : intruded)
        {
            struct stat info {};
            std::error_code error;

            if (lstat (path.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode) || info.st_uid != 65534 || ! std::filesystem::is_empty (path, error))
                found += " " + path.string();
        }

        return found;
    }

    std::vector<std::filesystem::path> intruded;
};

constexpr auto othersFolder = ".Velquin.vst3.oh-aside";

/** A fresh machine for one row: the target folder (below a folder that is
    not there yet, for a first install), the state folder, the archives. */
struct Machine
{
    juce::File root;
    juce::File folder = root.getChildFile ("lib/vst3");
    juce::File state = root.getChildFile ("state");
    juce::MemoryBlock oldArchive = vst3Archive (1), newArchive = vst3Archive (2);
    std::map<std::string, std::string> oldTree, newTree;
    bool planted = false;   ///< another user's folder at othersFolder, to be left alone

    /** A fresh folder below base, and the old bundle laid out in it by a run of
        its own when the operation starts from one. */
    Machine (const juce::File& base, const Operation& op)
        : root (base.getNonexistentChildFile ("machine", {}, false))
    {
        static const auto trees = [&base]
        {
            // What each archive gives, from runs of their own.
            Machine m (base);
            runVst3 (m.folder, false, m.newArchive, m.state);
            auto fresh = treeOf (m.folder);
            runVst3 (m.folder, false, m.oldArchive, m.state);
            return std::make_pair (treeOf (m.folder), fresh);
        }();

        oldTree = trees.first;
        newTree = trees.second;

        if (op.oldBundleFirst)
            runVst3 (folder, false, oldArchive, state);

        if (op.noRenameFlags)
        {
            const auto others = folder.getChildFile (othersFolder);
            planted = others.createDirectory() && chown (others.getFullPathName().toRawUTF8(), 65534, 65534) == 0;
        }
    }

    explicit Machine (const juce::File& base) : root (base.getNonexistentChildFile ("machine", {}, false)) {}

    ~Machine()   { root.deleteRecursively(); }

    bool run (const Operation& op)
    {
        ScopedTwoRenames twoRenames (op.twoRenames);
        return runVst3 (folder, op.uninstall, newArchive, state);
    }

    /** A run on the same disk, no call failing. */
    bool runAgain (const Operation& op)
    {
        Seam seam (op);
        return run (op);
    }

    struct ScopedTwoRenames
    {
        explicit ScopedTwoRenames (bool on)   { installerHooks().forceTwoRenames = on; }
        ~ScopedTwoRenames()                   { installerHooks().forceTwoRenames = false; }
    };

    /** What the bundle path holds: "old", "new", "none" or "damaged". */
    std::string bundleState() const
    {
        const auto bundle = folder.getChildFile ("Velquin.vst3");

        if (! bundle.exists())
            return "none";

        auto tree = treeOf (folder);

        for (auto it = tree.begin(); it != tree.end();)
            it = it->first.rfind ("Velquin.vst3", 0) == 0 ? std::next (it) : tree.erase (it);

        return tree == oldTree ? "old" : tree == newTree ? "new" : "damaged";
    }

    /** What a run left in the target folder that no record in the state
        folder vouches for and that is not an empty claim of a name: a later
        run could tell it from another user's only by its owner. */
    std::string unrecordedLeftovers() const
    {
        const auto stateHandle = StateFolder::open (state);
        const auto target = FileOps::openTargetFolder (folder, false);
        std::string found;

        for (auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
        {
            const auto name = f.getFileName();

            // An empty claim of a name, where renames take no flags, goes with the next run.
            const bool claimable = name == "Velquin.vst3" || name.startsWith (".Velquin.vst3.oh-aside");

            if (name == "Velquin.vst3" || (planted && name == othersFolder) || (claimable && FileOps::isUnusedClaim (target, name)))
                continue;

            if (! StateFolder::wasMade (stateHandle, "Velquin.vst3", StateFolder::Made::staging, target, name)
                 && ! StateFolder::wasMade (stateHandle, "Velquin.vst3", StateFolder::Made::setAside, target, name))
                found += " " + name.toStdString();
        }

        return found;
    }

    /** Everything in the target folder but the bundle, and every record left in the state folder. */
    std::string leftovers() const
    {
        std::string found;

        for (auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
            if (f.getFileName() != "Velquin.vst3" && ! (planted && f.getFileName() == othersFolder))
                found += " " + f.getFileName().toStdString();

        struct stat info {};
        const auto others = folder.getChildFile (othersFolder);

        if (planted && (lstat (others.getFullPathName().toRawUTF8(), &info) != 0 || ! S_ISDIR (info.st_mode) || info.st_uid != 65534
                         || others.getNumberOfChildFiles (juce::File::findFilesAndDirectories) != 0))
            found += " (another user's folder " + std::string (othersFolder) + " was replaced or taken)";

        for (auto& f : state.findChildFiles (juce::File::findFiles, false))
            if (! f.getFileName().endsWith (".lock"))
                found += " state/" + f.getFileName().toStdString();

        return found;
    }
};
} // namespace

//==============================================================================
// The seam sees each kind of call an install makes, fails the one asked for
// and nothing else, and leaves the system's own calls in force afterwards.
TEST (FaultSeam, RecordsTheCallsOfARunAndFailsTheOneAsked)
{
    TempFolder temp;
    const auto folder = temp["VST3"];
    const auto oldArchive = vst3Archive (1), newArchive = vst3Archive (2);
    ASSERT_TRUE (runVst3 (folder, false, oldArchive));
    const auto oldModule = moduleOf (folder);

    std::vector<FaultInjection::Call> calls;
    {
        FaultInjection faults;
        ASSERT_TRUE (runVst3 (folder, false, newArchive));
        calls = faults.calls();
        EXPECT_FALSE (faults.injected());
    }

    std::set<std::string> kinds;

    for (auto& call : calls)
        kinds.insert (call.function);

    for (auto* expected : { "mkdirat", "openat", "write", "futimens", "fsync", "renameat2", "unlinkat", "fchmod", "close", "flock" })
        EXPECT_EQ (kinds.count (expected), 1u) << expected << " was not seen";

    // The swap is the last rename: failing it keeps the bundle there.
    size_t swap = 0;

    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].function == "renameat2")
            swap = i;

    ASSERT_TRUE (runVst3 (folder, false, oldArchive));
    {
        FaultInjection faults;
        faults.failAt (swap, EIO);
        EXPECT_FALSE (runVst3 (folder, false, newArchive));
        EXPECT_TRUE (faults.injected());
        ASSERT_GT (faults.calls().size(), swap);
        EXPECT_EQ (faults.calls()[swap].function, "renameat2");
        EXPECT_EQ (faults.calls()[swap].error, EIO);
    }

    EXPECT_EQ (moduleOf (folder), oldModule);
    EXPECT_EQ (PosixCalls::current.fsync, PosixCalls::systemCalls().fsync) << "the system's calls are back";
    EXPECT_TRUE (runVst3 (folder, false, newArchive));
    EXPECT_NE (moduleOf (folder), oldModule);
}
#endif

#if ! JUCE_WINDOWS
//==============================================================================
// The table: each call of an install, an update, an uninstall and an update
// in two renames, failed in turn with each errno it may give. The run must say
// it failed (a write interrupted by a signal is retried, and may succeed),
// the bundle path must hold the whole old or the whole new bundle (after an
// uninstall the whole bundle or none), and the next run must succeed and
// leave nothing but the bundle: no staging folder, nothing set aside, no
// record in the state folder.
TEST (FailurePoints, EveryCallFailingLeavesAWholeBundleAndTheNextRunCleansUp)
{
    const Operation operations[] = {
        { "install",                     false, false, false },
        { "update",                      false, true,  false },
        { "update in two renames",       false, true,  true },
        { "update without rename flags", false, true,  false, true },
        { "uninstall",                   true,  true,  false },
    };

    TempFolder temp;

    const auto message = inChild ([&]() -> std::string
    {
    // On a tmpfs of its own: hundreds of runs, each with its syncs.
    if (auto failure = enterPrivateTmpfs (temp.get().getFullPathName().toRawUTF8(), "64m"); ! failure.empty())
        return failure;

    const auto base = temp.get();
    size_t rows = 0;
    std::string failures;

    for (auto& op : operations)
    {
        std::vector<FaultInjection::Call> recorded;
        {
            Machine m (base, op);
            Seam faults (op);
            if (! m.run (op))
                return std::string (op.name) + " failed without a fault";

            if (const auto lost = faults.intrusionsLost(); ! lost.empty())
                failures += std::string (op.name) + ": another user's folder, made just before our rename, was replaced:" + lost + "\n";

            recorded = faults.calls();
        }

        for (const auto& line : juce::StringArray::fromLines (orderFaults (recorded)))
            if (line.isNotEmpty())
                failures += std::string (op.name) + " " + line.toStdString() + "\n";

        for (size_t n = 0; n < recorded.size(); ++n)
        {
            for (const int error : errorsOf (recorded[n].function))
            {
                ++rows;
                Machine m (base, op);
                const auto before = m.bundleState();
                bool ok = false;
                bool injected = false;
                std::string seen, intrusionsLost;
                {
                    Seam faults (op);
                    faults.failAt (n, error);
                    ok = m.run (op);
                    injected = faults.injected();
                    seen = n < faults.calls().size() ? faults.calls()[n].function : "nothing";
                    intrusionsLost = faults.intrusionsLost();
                }

                const auto unrecorded = m.unrecordedLeftovers();

                const auto row = std::string (op.name) + " #" + std::to_string (n) + " " + FaultInjection::describe ({ recorded[n].function, recorded[n].path, error }) + ": ";
                const auto now = m.bundleState();
                const auto expectedAfter = op.uninstall ? "none" : "new";
                const bool retried = error == EINTR && recorded[n].function == "write";

                if (! injected || seen != recorded[n].function)
                    failures += row + "the run took another course (call " + std::to_string (n) + " was " + seen + ")\n";
                else if (ok && ! retried)
                    failures += row + "reported success\n";
                else if (now != before && now != expectedAfter)
                    failures += row + "the bundle path holds " + now + "\n";
                else if (ok && now != expectedAfter)
                    failures += row + "success with the bundle path holding " + now + "\n";
                else if (! intrusionsLost.empty())
                    failures += row + "another user's folder, made just before our rename, was replaced:" + intrusionsLost + "\n";
                else if (! unrecorded.empty())
                    failures += row + "the run left" + unrecorded + ", which no record vouches for\n";

                const bool next = m.runAgain (op);

                if (! next || m.bundleState() != expectedAfter)
                    failures += row + "the next run " + (next ? "left the bundle path holding " + m.bundleState() : std::string ("failed")) + "\n";
                else if (const auto left = m.leftovers(); ! left.empty())
                    failures += row + "left after the next run:" + left + "\n";
            }
        }

        std::cout << "[  TABLE   ] " << op.name << ": " << recorded.size() << " calls" << std::endl;
    }

    std::cout << "[  TABLE   ] " << rows << " rows, " << std::count (failures.begin(), failures.end(), '\n') << " failing" << std::endl;
    return failures;
    }, 280);

    if (message.rfind ("skip:", 0) == 0)
        GTEST_SKIP() << message;

    EXPECT_EQ (message, "");
}
#endif
