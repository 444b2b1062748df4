#include "Installer.h"
#include "InstallerHooks.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <linux/fs.h>
#include <map>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
namespace fs = std::filesystem;

/** Mounting needs the FUSE device, and root (no fusermount3 is relied on). */
bool fuseIsHere()
{
    const int fd = open ("/dev/fuse", O_RDWR | O_CLOEXEC);

    if (fd >= 0)
        close (fd);

    return fd >= 0 && geteuid() == 0;
}

#define SKIP_WITHOUT_FUSE()   if (! fuseIsHere()) GTEST_SKIP() << "no FUSE here: needs /dev/fuse and root"

//==============================================================================
/** oh_powercut_fs mounted at a folder, for as long as it lives. */
class PowerCutMount
{
public:
    struct Settings
    {
        fs::path image, out, trace;
        std::string cut;
        bool noRenameFlags = false;
        unsigned seeds = 4;
        std::uint64_t seed = 1;
    };

    PowerCutMount (const fs::path& mountPointToUse, const Settings& settings) : mountPoint (mountPointToUse)
    {
        std::vector<std::string> args { OH_POWERCUT_FS_PATH, "--image", settings.image.string(), "--seeds",
                                        std::to_string (settings.seeds), "--seed", std::to_string (settings.seed) };

        if (! settings.cut.empty())
            args.insert (args.end(), { "--cut", settings.cut, "--out", settings.out.string() });

        if (! settings.trace.empty())
            args.insert (args.end(), { "--trace", settings.trace.string() });

        if (settings.noRenameFlags)
            args.emplace_back ("--no-rename-flags");

        int ready[2];

        if (pipe2 (ready, O_CLOEXEC) != 0)
        {
            error = "pipe failed";
            return;
        }

        args.insert (args.end(), { "--ready-fd", std::to_string (ready[1]), mountPoint.string() });
        pid = fork();

        if (pid == 0)
        {
            fcntl (ready[1], F_SETFD, 0);
            std::vector<char*> argv;

            for (auto& a : args)
                argv.push_back (a.data());

            argv.push_back (nullptr);
            execv (argv[0], argv.data());
            _exit (127);
        }

        close (ready[1]);
        pollfd p { ready[0], POLLIN, 0 };
        char word[16] {};
        const bool mounted = poll (&p, 1, 20000) == 1 && read (ready[0], word, sizeof (word) - 1) > 0;
        close (ready[0]);

        if (! mounted)
            error = "oh_powercut_fs did not mount at " + mountPoint.string() + " (status " + std::to_string (finish (false)) + ")";
    }

    ~PowerCutMount()   { finish (true); }

    /** Unmounts, or waits for the filesystem to go by itself after a cut, and
        gives its exit status: 0 all well, 3 the model failed, 137 still
        running after 20 s (killed). */
    int finish (bool unmount)
    {
        if (pid <= 0)
            return status;

        // A process of a run that has just ended may hold it a moment longer.
        for (int attempt = 0; unmount && umount2 (mountPoint.c_str(), 0) != 0; ++attempt)
        {
            if (errno != EBUSY || attempt == 200)
            {
                std::cerr << "cannot unmount " << mountPoint << ": " << std::strerror (errno) << "\n";
                umount2 (mountPoint.c_str(), MNT_DETACH);
                break;
            }

            usleep (10000);
        }

        int s = 0;

        for (int waited = 0; waitpid (pid, &s, WNOHANG) == 0; ++waited)
        {
            if (waited == 2000)
            {
                std::cerr << "oh_powercut_fs still runs 20 s after its end, killed\n";
                kill (pid, SIGKILL);
                waitpid (pid, &s, 0);
                umount2 (mountPoint.c_str(), MNT_DETACH);
                break;
            }

            usleep (10000);
        }

        pid = -1;
        status = WIFEXITED (s) ? WEXITSTATUS (s) : 128 + WTERMSIG (s);
        return status;
    }

    std::string error;

private:
    fs::path mountPoint;
    pid_t pid = -1;
    int status = -1;
};

//==============================================================================
/** What lies at a path: "" for a file's own bytes, else each path below it,
    "/" for a folder and the bytes for a file. Nothing when nothing is there. */
using Snapshot = std::map<std::string, std::string>;

std::string contentOf (const fs::path& file)
{
    std::ifstream in (file, std::ios::binary);
    return std::string (std::istreambuf_iterator<char> (in), {});
}

std::optional<Snapshot> snapshotOf (const fs::path& path)
{
    std::error_code ec;
    const auto status = fs::symlink_status (path, ec);

    if (! fs::exists (status))
        return std::nullopt;

    Snapshot snapshot;

    if (! fs::is_directory (status))
    {
        snapshot[""] = fs::is_regular_file (status) ? "file: " + contentOf (path) : "(not a file)";
        return snapshot;
    }

    for (auto i = fs::recursive_directory_iterator (path, ec); ! ec && i != fs::recursive_directory_iterator(); i.increment (ec))
    {
        const auto below = fs::relative (i->path(), path).string();
        const auto s = i->symlink_status();
        snapshot[below] = fs::is_directory (s) ? "/" : fs::is_regular_file (s) ? "file: " + contentOf (i->path()) : "(not a file)";
    }

    return snapshot;
}

/** The first few paths where what is there differs from what should be. */
std::string differences (const std::optional<Snapshot>& found, const std::optional<Snapshot>& expected)
{
    if (! found || ! expected)
        return found ? "there, not gone" : "gone";

    std::string text;
    int shown = 0;
    const auto add = [&] (const std::string& path, const std::string& what)
    {
        if (shown++ < 3)
            text += (text.empty() ? "" : ", ") + (path.empty() ? std::string ("the file") : path) + " " + what;
    };

    for (const auto& [path, content] : *expected)
    {
        const auto there = found->find (path);

        if (there == found->end())
            add (path, "missing");
        else if (there->second != content)
            add (path, there->second == "/" ? "a folder" : "holds " + std::to_string (there->second.size() - 6) + " bytes, not "
                                                           + std::to_string (content.size() - 6));
    }

    for (const auto& entry : *found)
        if (expected->count (entry.first) == 0)
            add (entry.first, "should not be there");

    return shown > 3 ? text + " and " + std::to_string (shown - 3) + " more" : text;
}

std::set<std::string> namesIn (const fs::path& folder)
{
    std::set<std::string> names;
    std::error_code ec;

    for (const auto& entry : fs::directory_iterator (folder, ec))
        names.insert (entry.path().filename().string());

    return names;
}

//==============================================================================
const char* const formatFolderNames[] = { "vst3", "clap", "aax" };
const char* const productName = "Velquin";
const char* const neighbour = "Neighbour.txt";

/** Small bundles of both versions, in the payload form. The old one has a file the new one lacks. */
PerFormat<juce::MemoryBlock> payloadsOfVersion (int version)
{
    auto vst3 = ZipFixture().directory ("Velquin.vst3").file ("Velquin.vst3\\desktop.ini", "[.ShellClassInfo]\r\n")
                    .directory ("Velquin.vst3\\Contents").directory ("Velquin.vst3\\Contents\\x86_64-win")
                    .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (3000, version))
                    .directory ("Velquin.vst3\\Contents\\Resources")
                    .file ("Velquin.vst3\\Contents\\Resources\\moduleinfo.json", "{ \"Version\": \"" + juce::String (version) + "\" }");
    auto aax = ZipFixture().directory ("Velquin.aaxplugin").directory ("Velquin.aaxplugin\\Contents")
                   .directory ("Velquin.aaxplugin\\Contents\\x64")
                   .file ("Velquin.aaxplugin\\Contents\\x64\\Velquin.aaxplugin", ZipFixture::sampleContent (2000, 10 + version));

    if (version == 1)
        vst3.file ("Velquin.vst3\\Contents\\Resources\\old-only.txt", "only in the old version");

    return { vst3.build(), ZipFixture().file ("Velquin.clap", ZipFixture::sampleContent (1500, 20 + version)).build(), aax.build() };
}

PerFormat<PayloadArchive> payloadsOf (const PerFormat<juce::MemoryBlock>& archives)
{
    PerFormat<PayloadArchive> payloads;

    for (size_t k = 0; k < payloads.size(); ++k)
        payloads[k] = { archives[k].getData(), archives[k].getSize() };

    return payloads;
}

PerFormat<juce::File> foldersBelow (const fs::path& root)
{
    PerFormat<juce::File> folders;

    for (size_t k = 0; k < folders.size(); ++k)
        folders[k] = juce::File ((root / formatFolderNames[k]).string());

    return folders;
}

/** The runs' locks and records, on the same filesystem as the bundles. */
RunState stateBelow (const fs::path& root)
{
    return { juce::File ((root / "state").string()) };
}

/** One operation on every format, as one run of the program does it. */
struct Operation
{
    const char* name;
    bool uninstall = false;
    bool oldBundlesFirst = false;
    bool noRenameFlags = false;     ///< a filesystem without RENAME_NOREPLACE and RENAME_EXCHANGE
    bool forceTwoRenames = false;
};

struct Versions
{
    PerFormat<juce::MemoryBlock> oldArchives = payloadsOfVersion (1), newArchives = payloadsOfVersion (2);
    PerFormat<std::optional<Snapshot>> oldBundles, newBundles;
};

/** Runs the operation in a child, as one run of the program: empty when it succeeded. */
std::string runOperation (const Operation& op, const fs::path& root, const Versions& versions, bool restoreFirst = false)
{
    return inChild ([&]() -> std::string
    {
        installerHooks().forceTwoRenames = op.forceTwoRenames;
        const auto folders = foldersBelow (root);

        if (restoreFirst)
            restoreSetAsideBundles (folders, productName, stateBelow (root));

        PerFormat<bool> selection { true, true, true };
        const bool ok = processSelectedFormats (selection, op.uninstall, folders, productName, payloadsOf (versions.newArchives),
                                                nullptr, stateBelow (root));
        return ok ? "" : "the run reported failure";
    }, 60);
}

/** The restore of the next start alone. */
std::string restoreInChild (const fs::path& root)
{
    return inChild ([&]() -> std::string
    {
        restoreSetAsideBundles (foldersBelow (root), productName, stateBelow (root));
        return {};
    }, 60);
}

/** The disk before the run: the three format folders, each with a file of
    someone else's, and the old bundles where the operation needs them. */
bool makeFirstDisk (const Operation& op, const fs::path& image, Versions& versions)
{
    for (const auto* name : formatFolderNames)
    {
        fs::create_directories (image / name);
        std::ofstream (image / name / neighbour) << "someone else's";
    }

    fs::permissions (image, fs::perms (0755));

    // Both versions as the engine lays them out, for the comparisons.
    const auto reference = image.parent_path() / "reference";
    PerFormat<bool> all { true, true, true };

    for (int version = 1; version <= 2; ++version)
    {
        const auto folder = reference / std::to_string (version);
        const auto& archives = version == 1 ? versions.oldArchives : versions.newArchives;
        all = { true, true, true };

        if (! processSelectedFormats (all, false, foldersBelow (folder), productName, payloadsOf (archives)))
            return false;

        for (int k = 0; k < numFormats; ++k)
            (version == 1 ? versions.oldBundles : versions.newBundles)[(size_t) k]
                = snapshotOf (folder / formatFolderNames[k] / bundleName (productName, k).toStdString());
    }

    all = { true, true, true };
    return ! op.oldBundlesFirst || processSelectedFormats (all, false, foldersBelow (image), productName, payloadsOf (versions.oldArchives),
                                                           nullptr, stateBelow (image));
}

//==============================================================================
struct CutPoint
{
    std::string cut, what;
};

/** Every sync point, before and after it takes effect, every rename, and a few other changes between. */
std::vector<CutPoint> cutPointsOf (const fs::path& trace, unsigned randomChanges, std::uint64_t seed, unsigned& syncs, unsigned& changes)
{
    std::vector<CutPoint> points;
    std::vector<std::string> changeLines;
    std::set<unsigned> renames;
    std::ifstream in (trace);
    syncs = changes = 0;

    for (std::string line; std::getline (in, line);)
    {
        std::istringstream words (line);
        std::string kind;
        unsigned number = 0;
        words >> kind >> number;
        const auto what = line.substr (line.find (' ', line.find (' ') + 1) + 1);

        if (kind == "sync")
        {
            syncs = number;
            points.push_back ({ "sync:" + std::to_string (number), "before sync " + std::to_string (number) + " (" + what + ")" });
            points.push_back ({ "sync:" + std::to_string (number) + ":after", "after sync " + std::to_string (number) + " (" + what + ")" });
        }
        else if (kind == "change")
        {
            changes = number;
            changeLines.push_back (what);

            // Each move of an object a record vouches for, or of a bundle.
            if (what.rfind ("rename ", 0) == 0 || what.rfind ("exchange ", 0) == 0)
                renames.insert (number);
        }
    }

    std::mt19937_64 random (seed);
    std::set<unsigned> picked (renames);

    while (changes > renames.size() && picked.size() < renames.size() + std::min<size_t> (randomChanges, changes - renames.size()))
        picked.insert (1 + (unsigned) (random() % changes));

    for (auto n : picked)
        points.push_back ({ "change:" + std::to_string (n), "before change " + std::to_string (n) + " (" + changeLines[n - 1] + ")" });

    return points;
}

/** What the disk must show: after the next start, each bundle whole, old or
    new (an uninstall: whole or gone); after the next run, which must succeed,
    the new one (or none) and the neighbours, and nothing else. */
std::string checkRecovery (const Operation& op, const fs::path& mountPoint, const Versions& versions)
{
    if (auto failure = restoreInChild (mountPoint); ! failure.empty())
        return "the next start failed: " + failure;

    std::string found;

    for (int k = 0; k < numFormats; ++k)
    {
        const auto bundle = bundleName (productName, k).toStdString();
        const auto now = snapshotOf (mountPoint / formatFolderNames[k] / bundle);
        const auto& before = op.oldBundlesFirst ? versions.oldBundles[(size_t) k] : std::optional<Snapshot>();
        const auto& after = op.uninstall ? std::optional<Snapshot>() : versions.newBundles[(size_t) k];

        if (now != before && now != after)
            found += bundle + " is neither the whole bundle from before nor the whole one after: " + differences (now, op.uninstall ? before : after) + "; ";
    }

    if (! found.empty())
        return "at the next start: " + found;

    if (auto failure = runOperation (op, mountPoint, versions); ! failure.empty())
        return "the next run: " + failure;

    for (int k = 0; k < numFormats; ++k)
    {
        const auto bundle = bundleName (productName, k).toStdString();
        const auto folder = mountPoint / formatFolderNames[k];
        std::set<std::string> expected { neighbour };

        if (! op.uninstall)
            expected.insert (bundle);

        if (namesIn (folder) != expected)
        {
            found += folder.filename().string() + " holds";

            for (const auto& name : namesIn (folder))
                found += " " + name;

            found += "; ";
        }

        if (snapshotOf (folder / bundle) != (op.uninstall ? std::optional<Snapshot>() : versions.newBundles[(size_t) k]))
            found += bundle + " is not the new bundle after the next run; ";

        if (contentOf (folder / neighbour) != "someone else's")
            found += "the neighbour in " + folder.filename().string() + " changed; ";
    }

    return found.empty() ? "" : "after the next run: " + found;
}

std::uint64_t seedOf (const std::string& text)
{
    // Fixed per operation, so every run cuts at the same points; OH_POWERCUT_SEED explores others.
    std::uint64_t seed = 1469598103934665603ull;

    for (auto c : text)
        seed = (seed ^ (unsigned char) c) * 1099511628211ull;

    if (const auto* extra = std::getenv ("OH_POWERCUT_SEED"))
        seed ^= std::strtoull (extra, nullptr, 10) * 0x9e3779b97f4a7c15ull;

    return seed % 1000000;
}

/** The whole power-cut run of one operation. */
void cutAtEverySyncPoint (const Operation& op)
{
    TempFolder temp;
    const fs::path work (temp.get().getFullPathName().toStdString());
    const auto image = work / "first", mountPoint = work / "mnt";
    fs::create_directories (mountPoint);
    Versions versions;
    ASSERT_TRUE (makeFirstDisk (op, image, versions));

    // A run without a cut: it succeeds, and its trace numbers the sync points.
    const auto trace = work / "trace.txt";
    {
        PowerCutMount mount (mountPoint, { image, {}, trace, {}, op.noRenameFlags });
        ASSERT_EQ (mount.error, "");
        ASSERT_EQ (runOperation (op, mountPoint, versions), "");
        ASSERT_EQ (mount.finish (true), 0);
    }

    const auto seed = seedOf (op.name);
    const unsigned subsets = 4, between = 8;
    unsigned syncs = 0, changes = 0;
    const auto points = cutPointsOf (trace, between, seed, syncs, changes);
    ASSERT_FALSE (points.empty());

    std::cout << op.name << ": " << syncs << " sync points and " << changes << " changes in a run; cut points:\n";
    size_t disks = 0, distinct = 0, failures = 0;
    std::set<std::string> checked;

    for (size_t i = 0; i < points.size() && failures < 5; ++i)
    {
        const auto& point = points[i];
        const auto out = work / ("cut-" + std::to_string (i));

        // The run, and the power going at the point: the filesystem writes
        // out every disk the cut may leave, fails every request after it and
        // goes; what the run does after that reaches no disk.
        {
            PowerCutMount mount (mountPoint, { image, out, {}, point.cut, op.noRenameFlags, subsets, seed + i });
            ASSERT_EQ (mount.error, "");
            runOperation (op, mountPoint, versions);
            ASSERT_EQ (mount.finish (false), 0) << point.what << ": the run never got there, or the model failed (see above)";
        }

        std::ifstream index (out / "index.txt");
        size_t here = 0;

        for (std::string line; std::getline (index, line); ++here)
        {
            const auto tab = line.find ('\t');
            const auto models = line.substr (tab + 1);
            disks += (size_t) std::count (models.begin(), models.end(), ';') + 1;

            // A disk met at an earlier cut point was checked there.
            if (! checked.insert (contentOf (out / (line.substr (0, tab) + ".key"))).second)
                continue;

            PowerCutMount mount (mountPoint, { out / line.substr (0, tab), {}, {}, {}, op.noRenameFlags });
            ASSERT_EQ (mount.error, "");
            const auto failure = checkRecovery (op, mountPoint, versions);
            EXPECT_EQ (mount.finish (true), 0);

            if (! failure.empty())
            {
                ADD_FAILURE() << op.name << ", cut " << point.what << ", disk with " << models << ": " << failure;
                ++failures;
            }
        }

        distinct += here;
        std::cout << "  " << point.what << ": " << here << " distinct disks\n";
    }

    std::cout << op.name << ": " << points.size() << " cut points, " << disks << " disks (" << distinct << " distinct at their point, "
              << checked.size() << " in all) remounted; " << (failures == 0 ? "at each the next start found every bundle whole, old or new, and the next run succeeded and left nothing else"
                                                              : std::to_string (failures) + " failed")
              << std::endl;
}

//==============================================================================
// The filesystem's own rules, shown with plain system calls on a small disk:
// folders a (holding old, "old") and b.
int openOrDie (const fs::path& path, int flags)
{
    const int fd = open (path.c_str(), flags | O_CLOEXEC, 0644);

    if (fd < 0)
        throw std::runtime_error ("cannot open " + path.string() + ": " + std::strerror (errno));

    return fd;
}

void put (const fs::path& file, const std::string& text, bool sync = false)
{
    const int fd = openOrDie (file, O_WRONLY | O_CREAT | O_TRUNC);

    if (write (fd, text.data(), text.size()) != (ssize_t) text.size() || (sync && fsync (fd) != 0))
        throw std::runtime_error ("cannot write " + file.string());

    close (fd);
}

void syncPath (const fs::path& path)
{
    const int fd = openOrDie (path, O_RDONLY);
    const bool synced = fsync (fd) == 0;
    close (fd);

    if (! synced)
        throw std::runtime_error ("cannot sync " + path.string());
}

void renameWithFlags (const fs::path& from, const fs::path& to, unsigned flags)
{
    if (renameat2 (AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) != 0)
        throw std::runtime_error ("cannot rename " + from.string() + ": " + std::strerror (errno));
}

/** The disks a cut after the script may leave, each with the models that gave it. */
std::vector<std::pair<Snapshot, std::string>> disksAfter (const fs::path& work, const std::function<void (const fs::path&)>& script,
                                                          unsigned seeds = 4)
{
    const auto image = work / "first", mountPoint = work / "mnt", out = work / "cut";
    fs::remove_all (image);
    fs::remove_all (out);
    fs::create_directories (image / "a");
    fs::create_directories (image / "b");
    fs::create_directories (mountPoint);
    put (image / "a" / "old", "old");

    {
        PowerCutMount mount (mountPoint, { image, out, {}, "end", false, seeds, 7 });

        if (! mount.error.empty())
            throw std::runtime_error (mount.error);

        script (mountPoint);

        if (mount.finish (true) != 0)
            throw std::runtime_error ("the model failed");
    }

    std::vector<std::pair<Snapshot, std::string>> disks;
    std::ifstream index (out / "index.txt");

    for (std::string line; std::getline (index, line);)
        disks.emplace_back (*snapshotOf (out / line.substr (0, line.find ('\t'))), line.substr (line.find ('\t') + 1));

    return disks;
}

Snapshot onlySynced (const std::vector<std::pair<Snapshot, std::string>>& disks)
{
    for (const auto& [disk, models] : disks)
        if (models.find ("only what was synced") != std::string::npos)
            return disk;

    return {};
}
} // namespace

//==============================================================================
// Each operation on all three formats, cut at every sync point, before and
// after it takes effect, and at changes between; every disk the cut may leave
// remounted, then the next start and the next run.
TEST (PowerCut, AnInstall)
{
    SKIP_WITHOUT_FUSE();
    cutAtEverySyncPoint ({ "install" });
}

TEST (PowerCut, AnUpdate)
{
    SKIP_WITHOUT_FUSE();
    cutAtEverySyncPoint ({ "update", false, true });
}

TEST (PowerCut, AnUpdateInTwoRenames)
{
    SKIP_WITHOUT_FUSE();
    cutAtEverySyncPoint ({ "update in two renames", false, true, false, true });
}

// The names taken by placeholders first, where renames take no flags.
TEST (PowerCut, AnUpdateWithoutRenameFlags)
{
    SKIP_WITHOUT_FUSE();
    cutAtEverySyncPoint ({ "update without rename flags", false, true, true });
}

TEST (PowerCut, AnUninstall)
{
    SKIP_WITHOUT_FUSE();
    cutAtEverySyncPoint ({ "uninstall", true, true });
}

TEST (PowerCut, AnUninstallWithoutRenameFlags)
{
    SKIP_WITHOUT_FUSE();
    cutAtEverySyncPoint ({ "uninstall without rename flags", true, true, true });
}

//==============================================================================
// What survives a cut when only the syncs count: a file's data needs its own
// fsync, a name its folder's; a rename is one step, durable with either folder.
TEST (PowerCutFs, OnlyWhatWasSyncedSurvives)
{
    SKIP_WITHOUT_FUSE();

    struct Case
    {
        const char* name;
        std::function<void (const fs::path&)> script;
        Snapshot expected;
    };

    const Snapshot before { { "a", "/" }, { "a/old", "file: old" }, { "b", "/" } };
    const auto with = [&before] (Snapshot changes, std::vector<std::string> gone = {})
    {
        auto s = before;

        for (const auto& [path, content] : changes)
            s[path] = content;

        for (const auto& path : gone)
            s.erase (path);

        return s;
    };

    const Case cases[] = {
        { "a new file's data without its own fsync",
          [] (auto& m) { put (m / "a/f", "new"); syncPath (m / "a"); },
          with ({ { "a/f", "file: " } }) },
        { "a new file's name without its folder's fsync",
          [] (auto& m) { put (m / "a/f", "new", true); },
          before },
        { "a new file with both",
          [] (auto& m) { put (m / "a/f", "new", true); syncPath (m / "a"); },
          with ({ { "a/f", "file: new" } }) },
        { "a file rewritten in place and synced",
          [] (auto& m) { put (m / "a/old", "rewritten", true); },
          with ({ { "a/old", "file: rewritten" } }) },
        { "an unlink nobody synced",
          [] (auto& m) { fs::remove (m / "a/old"); },
          before },
        { "a rename to another folder, only the destination synced: never in both",
          [] (auto& m) { renameWithFlags (m / "a/old", m / "b/old", 0); syncPath (m / "b"); },
          with ({ { "b/old", "file: old" } }, { "a/old" }) },
        { "an exchange, its folder synced",
          [] (auto& m) { put (m / "a/x", "x", true); renameWithFlags (m / "a/x", m / "a/old", RENAME_EXCHANGE); syncPath (m / "a"); },
          with ({ { "a/old", "file: x" }, { "a/x", "file: old" } }) },
        { "a new folder whose parent was not synced",
          [] (auto& m) { fs::create_directory (m / "a/n"); put (m / "a/n/f", "z", true); syncPath (m / "a/n"); },
          before },
        { "a new folder synced in its parent, its own entries not",
          [] (auto& m) { fs::create_directory (m / "a/n"); put (m / "a/n/f", "z", true); syncPath (m / "a"); },
          with ({ { "a/n", "/" } }) },
    };

    TempFolder temp;
    const fs::path work (temp.get().getFullPathName().toStdString());

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto disks = disksAfter (work, c.script);
        EXPECT_EQ (onlySynced (disks), c.expected);
    }
}

// A disk keeps each object's number across a cut and a new mount, as real
// filesystems do: the records a run leaves name objects by it.
TEST (PowerCutFs, ObjectsKeepTheirNumbersAcrossACut)
{
    SKIP_WITHOUT_FUSE();
    TempFolder temp;
    const fs::path work (temp.get().getFullPathName().toStdString());
    const auto image = work / "first", mountPoint = work / "mnt", out = work / "cut";
    fs::create_directories (image / "a");
    fs::create_directories (mountPoint);
    put (image / "a" / "old", "old");

    const auto numberOf = [] (const fs::path& path)
    {
        struct stat info {};
        return lstat (path.c_str(), &info) == 0 ? info.st_ino : (ino_t) 0;
    };

    std::map<std::string, ino_t> before;
    {
        PowerCutMount mount (mountPoint, { image, out, {}, "end", false, 4, 7 });
        ASSERT_EQ (mount.error, "");

        // Made after the mount, and moved: its number goes with it.
        put (mountPoint / "a" / "new", "new", true);
        renameWithFlags (mountPoint / "a" / "new", mountPoint / "a" / "moved", 0);
        syncPath (mountPoint / "a");

        for (const char* name : { "a", "a/old", "a/moved" })
            before[name] = numberOf (mountPoint / name);

        ASSERT_EQ (mount.finish (true), 0);
    }

    std::ifstream index (out / "index.txt");
    size_t disks = 0;

    for (std::string line; std::getline (index, line); ++disks)
    {
        SCOPED_TRACE (line);
        PowerCutMount mount (mountPoint, { out / line.substr (0, line.find ('\t')), {}, {}, {} });
        ASSERT_EQ (mount.error, "");

        for (const auto& [name, number] : before)
            EXPECT_EQ (numberOf (mountPoint / name), number) << name;

        EXPECT_EQ (mount.finish (true), 0);
    }

    EXPECT_GT (disks, 0u);
}

// Beyond the syncs, the random disks keep each object's changes in order
// (three writes of one file, two names in one folder), and the two families
// differ: only an unordered disk keeps a later name in another folder
// without an earlier one.
TEST (PowerCutFs, RandomDisksKeepEachObjectsOrder)
{
    SKIP_WITHOUT_FUSE();
    TempFolder temp;
    const fs::path work (temp.get().getFullPathName().toStdString());

    const auto disks = disksAfter (work, [] (const fs::path& m)
    {
        const int fd = openOrDie (m / "a/f", O_WRONLY | O_CREAT | O_EXCL);

        for (const char* piece : { "1", "2", "3" })
            if (write (fd, piece, 1) != 1)
                throw std::runtime_error ("cannot write");

        close (fd);
        put (m / "a/g", "g");
        put (m / "b/h", "h");
    }, 40);

    const std::set<std::string> prefixes { "file: ", "file: 1", "file: 12", "file: 123" };
    std::set<std::string> contentsOfF;
    bool unorderedKeptALaterNameAlone = false;

    for (const auto& [disk, models] : disks)
    {
        SCOPED_TRACE (models);
        const bool hasF = disk.count ("a/f") != 0;

        if (hasF)
            contentsOfF.insert (disk.at ("a/f"));

        EXPECT_TRUE (! hasF || prefixes.count (disk.at ("a/f")) != 0) << disk.at ("a/f");
        EXPECT_TRUE (hasF || disk.count ("a/g") == 0) << "a later name in the same folder without the earlier";

        if (disk.count ("b/h") != 0 && ! hasF)
        {
            EXPECT_EQ (models.find ("journaled"), std::string::npos) << "a journal keeps names in order";
            unorderedKeptALaterNameAlone = unorderedKeptALaterNameAlone || models.find ("unordered") != std::string::npos;
        }
    }

    EXPECT_GE (contentsOfF.size(), 3u) << "the random disks hardly vary";
    EXPECT_TRUE (unorderedKeptALaterNameAlone);
}
