// What root reads from the disk cannot crash or steer it: names that are not
// text, objects of others renamed to our names, links in the configured path,
// a pipe swapped in under the version probe, and mounts inside a bundle.
#include "Installer.h"
#include "InstallerHooks.h"
#include "PeVersion.h"
#include "RunLog.h"
#include "Status.h"
#include "support/ChildProcess.h"
#include "support/MadeRecords.h"
#include "support/PeFixture.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS
 #include <filesystem>
 #include <fstream>
 #include <map>
 #include <sstream>
 #include <atomic>
 #include <chrono>
 #include <csignal>
 #include <iostream>
 #include <grp.h>
 #include <sys/inotify.h>
 #include <sys/mman.h>
 #include <sys/mount.h>
 #include <sys/prctl.h>
 #include <sys/stat.h>
 #include <sys/wait.h>
 #include <unistd.h>
 #include <fcntl.h>
 #include <cstdio>

namespace
{
namespace fs = std::filesystem;

//==============================================================================
// Trees kept as bytes: a name read from the disk never becomes a juce::String
// here, for that conversion is one of the faults under test.
using RawTree = std::map<std::string, std::string>;

RawTree rawTree (const std::string& root)
{
    RawTree tree;
    std::error_code error;

    for (fs::recursive_directory_iterator it (root, error), end; ! error && it != end; it.increment (error))
    {
        struct stat info;

        if (lstat (it->path().c_str(), &info) != 0)
            continue;

        std::ostringstream record;
        record << std::oct << (info.st_mode & 0170777) << std::dec << " uid " << info.st_uid << ' ';

        if (S_ISREG (info.st_mode))
            record << std::ifstream (it->path(), std::ios::binary).rdbuf();
        else if (S_ISLNK (info.st_mode))
            record << "-> " << fs::read_symlink (it->path(), error).string();

        tree[it->path().lexically_relative (root).string()] = record.str();
    }

    return tree;
}

/** The entries below (and including) one name of the tree's top level. */
RawTree under (const RawTree& tree, const std::string& top, bool keep)
{
    RawTree result;

    for (auto& [path, record] : tree)
        if ((path == top || path.rfind (top + "/", 0) == 0) == keep)
            result[path] = record;

    return result;
}

/** A printable path: bytes outside ASCII as \xHH. */
std::string printable (const std::string& s)
{
    std::string out;

    for (unsigned char c : s)
    {
        if (c >= 0x20 && c < 0x7f)
        {
            out += (char) c;
        }
        else
        {
            char hex[8];
            std::snprintf (hex, sizeof (hex), "\\x%02X", c);
            out += hex;
        }
    }

    return out;
}

std::string differences (const RawTree& expected, const RawTree& actual)
{
    std::string diff;

    for (auto& [path, record] : expected)
        if (actual.count (path) == 0 || actual.at (path) != record)
            diff += (actual.count (path) == 0 ? " gone " : " changed ") + printable (path) + ";";

    for (auto& [path, record] : actual)
        if (expected.count (path) == 0)
            diff += " new " + printable (path) + ";";

    return diff;
}

bool writeRaw (const std::string& path, const std::string& content)
{
    std::ofstream out (path, std::ios::binary);
    out << content;
    return out.good();
}

bool makeFolders (const std::string& path, uid_t owner = 0, mode_t mode = 0755)
{
    std::error_code error;
    fs::create_directories (path, error);
    return ! error && chown (path.c_str(), owner, owner) == 0 && chmod (path.c_str(), mode) == 0;
}

/** Lays out a bundle of another product, or an old bundle of ours. */
bool layOutBundle (const std::string& path, const std::string& seed)
{
    return makeFolders (path + "/Contents/x86_64-win")
            && writeRaw (path + "/desktop.ini", "[.ShellClassInfo]\r\n")
            && writeRaw (path + "/Contents/x86_64-win/module.bin", "module of " + seed);
}

/** The fresh bundle the installs put in place, and its archive. */
struct Payload
{
    juce::MemoryBlock archive = ZipFixture()
                                    .directory ("Velquin.vst3\\Contents")
                                    .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (20000, 7))
                                    .file ("Velquin.vst3\\desktop.ini", juce::String ("[.ShellClassInfo]\r\n"))
                                    .build();

    PerFormat<PayloadArchive> payloads() const
    {
        return { PayloadArchive { archive.getData(), archive.getSize() }, PayloadArchive {}, PayloadArchive {} };
    }
};

bool runVst3 (const juce::File& folder, bool uninstall, const Payload& payload, const juce::File& state = {})
{
    PerFormat<bool> selection { true, false, false };
    return processSelectedFormats (selection, uninstall, { folder, {}, {} }, "Velquin", payload.payloads(), nullptr, { state });
}

bool becomeNobody()
{
    return setgroups (0, nullptr) == 0 && setgid (65534) == 0 && setuid (65534) == 0;
}

/** Runs fn as the user nobody in a child and returns its message. */
std::string asNobody (const std::function<std::string()>& fn)
{
    return inChild ([&]() -> std::string { return becomeNobody() ? fn() : "could not become nobody"; }, 30);
}

/** Removes a tree before the TempFolder that holds it goes: the framework's
    own listing would read the names that are not text. */
struct RawRemoval
{
    std::string path;

    ~RawRemoval()
    {
        std::error_code error;
        fs::remove_all (path, error);
    }
};

#define SKIP_OR_EXPECT_EMPTY(message)                          \
    if (const auto m = (message); m.rfind ("skip:", 0) == 0)   \
        GTEST_SKIP() << m;                                     \
    else                                                       \
        EXPECT_EQ (m, "")
//==============================================================================
// Races against another user: nobody, with the folder's group as its only
// other group, swaps names in a folder that group may change, at the moment
// it sees them. Each round lays the folder out afresh and runs root once; a
// round counts as a win when something of root's that is not ours changed.
constexpr gid_t attackerGroup = 4242;
constexpr int raceRounds = 2000;

/** Counters the attacker and the test share across the fork. */
struct RaceBoard
{
    std::atomic<int> round { 0 };   ///< the round root is in; the attacker strikes once per round
    std::atomic<int> swaps { 0 };
    std::atomic<bool> ready { false };
};

RaceBoard* makeRaceBoard()
{
    auto* memory = mmap (nullptr, sizeof (RaceBoard), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) RaceBoard();
}

/** Forks the attacker: user nobody, member of attackerGroup, dying with us. */
pid_t startAttacker (RaceBoard& board, const std::function<void (RaceBoard&)>& attack)
{
    const auto pid = fork();

    if (pid == 0)
    {
        const gid_t groups[] = { attackerGroup };

        if (setgroups (1, groups) != 0 || setgid (65534) != 0 || setuid (65534) != 0
             || prctl (PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() == 1)
            _exit (1);

        attack (board);
        _exit (0);
    }

    // The attacker is watching before the first round.
    for (int i = 0; i < 5000 && ! board.ready.load(); ++i)
        usleep (1000);

    return pid;
}

/** The entries below top, as if top were named as: a folder found again under another name. */
RawTree underAs (const RawTree& tree, const std::string& top, const std::string& as)
{
    RawTree moved;

    for (auto& [path, record] : under (tree, top, true))
        moved[as + path.substr (top.size())] = record;

    return moved;
}

/** Ends the attacker; empty when it was still racing, as it must be. */
std::string stopAttacker (pid_t pid)
{
    int status = 0;
    kill (pid, SIGKILL);
    waitpid (pid, &status, 0);
    return WIFSIGNALED (status) && WTERMSIG (status) == SIGKILL ? "" : "the attacker stopped before our kill: its set-up failed";
}

/** Runs rounds until the bound or the first win; "rounds R, wins W" and what the win was. */
std::string race (const char* name, RaceBoard& board, const std::function<void()>& layOut,
                  const std::function<void()>& runRoot, const std::function<std::string()>& lost)
{
    int rounds = 0, wins = 0;
    std::string what;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (60);

    for (; rounds < raceRounds && wins == 0 && std::chrono::steady_clock::now() < deadline; ++rounds)
    {
        layOut();
        board.round.store (rounds + 1);
        runRoot();

        if (what = lost(); ! what.empty())
            ++wins;
    }

    std::cout << "[   RACE   ] " << name << ": rounds " << rounds << ", wins " << wins << ", swaps " << board.swaps.load()
              << (wins > 0 ? " (round " + std::to_string (rounds) + ": " + what + ")" : std::string()) << std::endl;

    return wins == 0 ? std::string() : "the attacker won round " + std::to_string (rounds) + ": " + what;
}

/** Waits, spinning, for a name to be created in the folder the descriptor watches; true for a match. */
bool sawCreated (int watch, const std::string& prefix, std::string& name)
{
    alignas (inotify_event) char buffer[4096];
    const auto n = read (watch, buffer, sizeof (buffer));

    for (ssize_t at = 0; at < n;)
    {
        const auto* event = reinterpret_cast<const inotify_event*> (buffer + at);

        if (event->len > 0 && std::string (event->name).rfind (prefix, 0) == 0)
        {
            name = event->name;
            return true;
        }

        at += (ssize_t) (sizeof (inotify_event) + event->len);
    }

    return false;
}
} // namespace

//==============================================================================
// A target folder of group 4242, mode 0775: a member swaps root's fresh
// staging folder with another product's root-owned bundle the moment it sees
// the staging name. Root must never fill, chmod or delete that bundle.
TEST (HostileDisk, AStagingNameSwappedForAnotherBundleInAGroupFolder)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the other user";

    TempFolder temp;
    const Payload payload;

    SKIP_OR_EXPECT_EMPTY (inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (temp.get().getFullPathName().toRawUTF8(), "64m"); ! failure.empty())
            return failure;

        auto* board = makeRaceBoard();
        const auto folder = temp["plugins"];
        const auto plugins = folder.getFullPathName().toStdString();

        if (board == nullptr || ! makeFolders (plugins) || chown (plugins.c_str(), 0, attackerGroup) != 0 || chmod (plugins.c_str(), 0775) != 0)
            return "could not lay out the group's folder";

        const auto attacker = startAttacker (*board, [&] (RaceBoard& b)
        {
            const int watch = inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);

            if (watch < 0 || inotify_add_watch (watch, plugins.c_str(), IN_CREATE) < 0)
                return;

            b.ready = true;
            std::string name;

            for (;;)
                if (sawCreated (watch, ".Velquin.vst3.oh-staging-", name)
                     && renameat2 (AT_FDCWD, (plugins + "/" + name).c_str(), AT_FDCWD, (plugins + "/Other.vst3").c_str(), RENAME_EXCHANGE) == 0)
                    ++b.swaps;
        });

        RawTree other;

        const auto layOut = [&]
        {
            std::error_code error;

            for (auto& entry : fs::directory_iterator (plugins))
                fs::remove_all (entry.path(), error);

            layOutBundle (plugins + "/Other.vst3", "other");
            other = under (rawTree (plugins), "Other.vst3", true);
        };

        // Other.vst3 is whole wherever the attacker left it: under some name, as it was.
        const auto lost = [&]() -> std::string
        {
            const auto now = rawTree (plugins);

            for (auto& [path, record] : now)
            {
                if (path.find ('/') != std::string::npos)
                    continue;

                if (underAs (now, path, "Other.vst3") == other)
                    return {};
            }

            return "Other.vst3 changed:" + differences (other, under (now, "Other.vst3", true));
        };

        const auto result = race ("staging name swapped", *board, layOut, [&] { runVst3 (folder, false, payload); }, lost);
        return result + stopAttacker (attacker);
    }, 120));
}

// The configured folder shared/plugins is missing below shared, of group 4242
// and mode 0775, beside root's private shared/secret (0700). A member swaps
// plugins with secret the moment root makes plugins: root must never open up
// the private folder nor install into it.
TEST (HostileDisk, APrivateFolderSwappedForOneRootMakesOnTheWay)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the other user";

    TempFolder temp;
    const Payload payload;

    SKIP_OR_EXPECT_EMPTY (inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (temp.get().getFullPathName().toRawUTF8(), "64m"); ! failure.empty())
            return failure;

        auto* board = makeRaceBoard();
        const auto shared = temp["shared"].getFullPathName().toStdString();

        if (board == nullptr || ! makeFolders (shared) || chown (shared.c_str(), 0, attackerGroup) != 0 || chmod (shared.c_str(), 0775) != 0)
            return "could not lay out the group's folder";

        // Spins on the exchange: it fails until root has made plugins, then
        // succeeds at once. One swap a round.
        const auto attacker = startAttacker (*board, [&] (RaceBoard& b)
        {
            b.ready = true;
            const auto plugins = shared + "/plugins", secret = shared + "/secret";

            for (int struck = 0;;)
            {
                if (b.round.load() == struck)
                    continue;

                if (renameat2 (AT_FDCWD, plugins.c_str(), AT_FDCWD, secret.c_str(), RENAME_EXCHANGE) == 0)
                {
                    struck = b.round.load();
                    ++b.swaps;
                }
            }
        });

        RawTree secret;

        const auto layOut = [&]
        {
            std::error_code error;

            for (auto& entry : fs::directory_iterator (shared))
                fs::remove_all (entry.path(), error);

            makeFolders (shared + "/secret", 0, 0700);
            writeRaw (shared + "/secret/key", "the key");
            chmod ((shared + "/secret/key").c_str(), 0600);
            secret = under (rawTree (shared), "secret", true);
        };

        // The private folder, under whichever name, is as it was: 0700, holding the key alone.
        const auto lost = [&]() -> std::string
        {
            const auto now = rawTree (shared);

            for (auto* name : { "secret", "plugins" })
            {
                if (underAs (now, name, "secret") == secret)
                    return {};
            }

            std::string all;

            for (auto& [p, r] : now)
                all += " " + p + " (" + r.substr (0, r.find (' ')) + ")";

            return "the private folder changed; now:" + all;
        };

        const auto folder = temp["shared/plugins"];
        const auto result = race ("folder made on the way swapped", *board, layOut, [&] { runVst3 (folder, false, payload); }, lost);
        return result + stopAttacker (attacker);
    }, 120));
}

//==============================================================================
// Folders others may change without the sticky bit, on the configured path or
// at its end: every install and uninstall is refused, changes nothing at all,
// and its log line names the folder, who may change it and its mode. A sticky
// folder every user may write, as /tmp is, is not refused.
TEST (HostileDisk, FoldersOthersMayChangeAreRefusedByName)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give folders to others";

    const struct
    {
        const char* what;
        const char* configured;   ///< below the temporary folder
        const char* changeable;   ///< the folder whose rights are set; nullptr: none
        uid_t owner;
        gid_t group;
        mode_t mode;
        const char* who;          ///< nullptr: not refused
    } rows[] = {
        { "the target, group-writable",           "plugins",        "plugins", 0,     attackerGroup, 0775,  "group 4242 (mode 0775)" },
        { "the target, set-group-id and group-writable", "plugins", "plugins", 0,     attackerGroup, 02775, "group 4242 (mode 2775)" },
        { "the target, world-writable",           "plugins",        "plugins", 0,     0,             0777,  "every user (mode 0777)" },
        { "the target, a user's own",             "plugins",        "plugins", 65534, 65534,         0755,  "user nobody (mode 0755)" },
        { "a folder holding the target",          "shared/plugins", "shared",  0,     attackerGroup, 0775,  "group 4242 (mode 0775)" },
        { "a folder holding a missing target",    "shared/new/vst3", "shared", 0,     attackerGroup, 0775,  "group 4242 (mode 0775)" },
        { "the target, sticky and world-writable", "plugins",       "plugins", 0,     0,             01777, nullptr },
        { "a sticky folder holding the target",   "shared/plugins", "shared",  0,     0,             01777, nullptr },
    };

    const Payload payload;

    for (auto& row : rows)
    {
        SCOPED_TRACE (row.what);
        TempFolder temp;
        const auto base = temp.get().getFullPathName().toStdString();
        const auto folder = temp[row.configured];
        const auto changeable = base + "/" + row.changeable;

        ASSERT_TRUE (makeFolders (base + "/shared"));

        if (std::string (row.configured).find ("new") == std::string::npos)
        {
            ASSERT_TRUE (makeFolders (folder.getFullPathName().toStdString()));
            ASSERT_TRUE (layOutBundle (folder.getFullPathName().toStdString() + "/Velquin.vst3", "old"));
        }

        ASSERT_EQ (chown (changeable.c_str(), row.owner, row.group), 0);
        ASSERT_EQ (chmod (changeable.c_str(), row.mode), 0);

        const auto before = rawTree (base);

        for (const bool uninstall : { false, true })
        {
            juce::String line;
            RunLog::setSystemCall ([&] (RunLog::Event, const juce::String& l) { line = l; });
            const bool ok = runVst3 (folder, uninstall, payload, temp["state"]);
            RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});

            if (row.who == nullptr)
            {
                EXPECT_TRUE (ok) << line;
                continue;
            }

            EXPECT_FALSE (ok);
            EXPECT_EQ (differences (under (before, "state", false), under (rawTree (base), "state", false)), "");
            EXPECT_TRUE (line.endsWith ("failed at open target, the folder itself: the folder " + juce::String (changeable)
                                        + " can be changed by " + row.who + "; fix its permissions"))
                << line;
        }
    }
}

//==============================================================================
// Names that are not UTF-8, in the target folder, inside our old bundle and
// inside a staging leftover of ours: every install and uninstall goes through,
// the foreign names stay where they are, and ours go with what holds them.
// Each case runs in a child so that a crash fails one row, not the whole run.
TEST (HostileDisk, NamesThatAreNotTextAreNeverOurs)
{
    const std::string names[] = { "\xC0" + std::string (200, 'A'), "\xC0\xAE", "\xE0\x80\x80x", "\xC0_propos" };
    const char* const places[] = { "target folder", "old bundle", "staging leftover" };
    const std::string leftover = ".Velquin.vst3.oh-staging-a1B2c3";
    const Payload payload;

    for (auto& name : names)
    {
        for (const std::string place : places)
        {
            for (const bool uninstall : { false, true })
            {
                SCOPED_TRACE (printable (name) + " in the " + place + (uninstall ? ", uninstall" : ", install"));
                TempFolder temp;
                const auto folder = temp["VST3"];
                const auto target = folder.getFullPathName().toStdString();
                const RawRemoval removal { target };

                ASSERT_TRUE (layOutBundle (target + "/Velquin.vst3", "old"));

                if (place == "target folder")
                {
                    ASSERT_TRUE (writeRaw (target + "/" + name, "foreign"));
                    // Named like a staging folder of ours but for the bytes: not ours either.
                    ASSERT_TRUE (makeFolders (target + "/.Velquin.vst3.oh-staging-" + name));
                    ASSERT_TRUE (writeRaw (target + "/.Velquin.vst3.oh-staging-" + name + "/keep", "foreign"));
                }
                else if (place == "old bundle")
                {
                    ASSERT_TRUE (writeRaw (target + "/Velquin.vst3/Contents/" + name, "inside"));
                }
                else
                {
                    ASSERT_TRUE (makeFolders (target + "/" + leftover + "/" + name, 0, 0700));
                    ASSERT_TRUE (writeRaw (target + "/" + leftover + "/" + name + "/" + name, "partial"));
                    ASSERT_TRUE (recordAsMade (temp["state"], "Velquin.vst3", StateFolder::Made::staging, folder.getChildFile (leftover)));
                }

                const auto before = rawTree (target);

                const auto message = inChild ([&]() -> std::string
                {
                    return runVst3 (folder, uninstall, payload, temp["state"]) ? "" : "the run reported failure";
                }, 60);

                EXPECT_EQ (message, "");

                const auto after = rawTree (target);
                const auto others = [&] (const RawTree& t) { return under (under (t, "Velquin.vst3", false), leftover, false); };

                EXPECT_EQ (differences (others (before), others (after)), "") << "foreign names must stay as they were";
                EXPECT_TRUE (under (after, leftover, true).empty()) << "our leftover goes, whatever it holds";

                const auto bundle = under (after, "Velquin.vst3", true);

                if (uninstall)
                {
                    EXPECT_TRUE (bundle.empty());
                }
                else
                {
                    EXPECT_EQ (bundle.size(), 5u) << "the fresh bundle: itself, Contents, its folder, two files";
                    EXPECT_EQ (bundle.count ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3"), 1u);
                }
            }
        }
    }
}

//==============================================================================
// A folder every user may add to (sticky, so that only owners rename or delete
// what is in it): another user moves a root-owned file in from a folder of
// theirs under our VST3 set-aside name, and hard-links a root-owned file in as
// our CLAP set-aside (what any user can do where fs.protected_hardlinks is 0;
// root makes the link here). They also move in root-owned folders they may
// write to, each holding a root-only folder, under our AAX set-aside name and
// a VST3 staging name, and mount a file system of theirs at another staging
// name. Their owner is root, but no run of ours recorded them and they are not
// root's alone on the folder's own disk: start-up, installs (in one step and
// in two renames) and an uninstall leave all five where they are, and the
// installs and the uninstall still succeed.
TEST (HostileDisk, ObjectsOfOthersRenamedToOurNamesAreLeftAlone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to play the other user";

    TempFolder temp;
    const Payload payload;

    SKIP_OR_EXPECT_EMPTY (inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (temp.get().getFullPathName().toRawUTF8(), "16m"); ! failure.empty())
            return failure;

        const auto folder = temp["shared"];
        const auto state = temp["state"];
        const auto shared = folder.getFullPathName().toStdString();
        const auto elsewhere = temp["elsewhere"].getFullPathName().toStdString();

        if (! makeFolders (shared, 0, 01777) || ! makeFolders (elsewhere, 0, 0777)
             || ! writeRaw (elsewhere + "/other.bin", "another product's module")
             || ! writeRaw (temp["root-only.bin"].getFullPathName().toStdString(), "root's own file")
             || link (temp["root-only.bin"].getFullPathName().toRawUTF8(), (shared + "/.Velquin.clap.oh-aside").c_str()) != 0)
            return "could not lay out the shared folder";

        const char* const plantedFolders[] = { ".Velquin.aaxplugin.oh-aside", ".Velquin.vst3.oh-staging-Plant1" };

        for (auto* name : plantedFolders)
            if (! makeFolders (elsewhere + "/" + name + "/root-only", 0, 0755) || ! makeFolders (elsewhere + "/" + name, 0, 0777)
                 || ! writeRaw (elsewhere + "/" + name + "/root-only/file", "root's own"))
                return "could not lay out the folders to move in";

        const auto planted = asNobody ([&]() -> std::string
        {
            for (auto* name : plantedFolders)
                if (rename ((elsewhere + "/" + name).c_str(), (shared + "/" + name).c_str()) != 0)
                    return "nobody could not move a folder in";

            return rename ((elsewhere + "/other.bin").c_str(), (shared + "/.Velquin.vst3.oh-aside").c_str()) == 0
                       ? "" : "nobody could not rename";
        });

        if (! planted.empty())
            return planted;

        // A user's own mount at a staging name whose root claims to be root's
        // alone (FUSE lets its owner say so): a tmpfs stands in for it.
        const auto mounted = shared + "/.Velquin.vst3.oh-staging-Mount1";

        if (! asNobody ([&]() -> std::string { return mkdir (mounted.c_str(), 0700) == 0 ? "" : "no"; }).empty()
             || mount ("tmpfs", mounted.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0
             || ! writeRaw (mounted + "/theirs", "on their own file system"))
            return "could not mount a tmpfs at a staging name";

        const auto before = rawTree (shared);
        std::string failures;

        const auto check = [&] (const char* step)
        {
            const auto now = rawTree (shared);

            for (auto* name : { ".Velquin.vst3.oh-aside", ".Velquin.clap.oh-aside", plantedFolders[0], plantedFolders[1],
                                ".Velquin.vst3.oh-staging-Mount1" })
                if (under (now, name, true) != under (before, name, true))
                    failures += std::string (step) + ": " + name + " changed;" + differences (under (before, name, true), under (now, name, true));

            for (auto* bundle : { "Velquin.clap", "Velquin.aaxplugin" })
                if (now.count (bundle) != 0)
                    failures += std::string (step) + ": what was planted was put in place as " + bundle + "; ";
        };

        restoreSetAsideBundles ({ folder, folder, folder }, "Velquin", { state });
        check ("start");

        if (! runVst3 (folder, false, payload, state))
            failures += "install failed; ";

        check ("install");

        installerHooks().forceTwoRenames = true;

        if (! runVst3 (folder, false, payload, state))
            failures += "install in two renames failed; ";

        installerHooks() = {};
        check ("install in two renames");

        if (! runVst3 (folder, true, payload, state))
            failures += "uninstall failed; ";

        check ("uninstall");
        return failures;
    }));
}

//==============================================================================
// The configured folder lies below one of an ordinary user, who swaps their
// folder for a link to a place holding a bundle: neither install nor uninstall
// writes, moves or deletes anything, anywhere. A root-owned link in a
// root-owned folder, as a system lays out its own folders, is still followed.
TEST (HostileDisk, LinksInTheConfiguredPath)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to play the other user";

    TempFolder temp;
    const Payload payload;

    SKIP_OR_EXPECT_EMPTY (inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateTmpfs (temp.get().getFullPathName().toRawUTF8(), "16m"); ! failure.empty())
            return failure;

        const auto base = temp.get().getFullPathName().toStdString();
        const auto folder = temp["home/user/plugins/vst3"];
        std::string failures;

        if (! makeFolders (base + "/home/user/plugins/vst3", 65534)
             || chown ((base + "/home/user").c_str(), 65534, 65534) != 0
             || chown ((base + "/home/user/plugins").c_str(), 65534, 65534) != 0
             || ! layOutBundle (base + "/elsewhere/plugins/vst3/Velquin.vst3", "elsewhere"))
            return "could not lay out the folders";

        const auto elsewhere = rawTree (base + "/elsewhere");
        const auto usersOwn = rawTree (base + "/home/user/plugins");

        for (const bool uninstall : { true, false })
        {
            const auto swapped = asNobody ([&]() -> std::string
            {
                const auto plugins = base + "/home/user/plugins";
                std::error_code error;
                fs::remove_all (plugins + ".real", error);
                return rename (plugins.c_str(), (plugins + ".real").c_str()) == 0
                        && symlink ((base + "/elsewhere/plugins").c_str(), plugins.c_str()) == 0
                           ? "" : "nobody could not swap the folder";
            });

            if (! swapped.empty())
                return swapped;

            const auto what = uninstall ? std::string ("uninstall") : std::string ("install");

            if (runVst3 (folder, uninstall, payload))
                failures += what + " through the user's link reported success; ";

            if (probeFormatStatus (folder, "Velquin", 0).installed)
                failures += "the status looked through the user's link; ";

            if (const auto diff = differences (elsewhere, rawTree (base + "/elsewhere")); ! diff.empty())
                failures += what + " changed the other place:" + diff + " ";

            if (const auto diff = differences (usersOwn, rawTree (base + "/home/user/plugins.real")); ! diff.empty())
                failures += what + " changed the user's own folder:" + diff + " ";

            // Back to the real folder for the next round.
            fs::remove (base + "/home/user/plugins");
            fs::rename (base + "/home/user/plugins.real", base + "/home/user/plugins");
        }

        // A system's own layout: a root-owned link in a root-owned folder.
        if (! makeFolders (base + "/usr/lib") || ! makeFolders (base + "/opt/vst3")
             || symlink ((base + "/opt/vst3").c_str(), (base + "/usr/lib/vst3").c_str()) != 0)
            return "could not lay out the system's link";

        const auto linked = temp["usr/lib/vst3"];

        if (! runVst3 (linked, false, payload) || ! fs::exists (base + "/opt/vst3/Velquin.vst3/desktop.ini"))
            failures += "install through root's own link failed; ";

        if (! probeFormatStatus (linked, "Velquin", 0).installed)
            failures += "the status does not see the bundle through root's own link; ";

        if (! runVst3 (linked, true, payload) || fs::exists (base + "/opt/vst3/Velquin.vst3"))
            failures += "uninstall through root's own link failed; ";

        return failures;
    }));
}

//==============================================================================
// The CLAP module is swapped for a pipe between the probe's check and its
// read: the probe still returns at once, with what it checked.
TEST (HostileDisk, VersionProbeNeverWaitsOnAPipeSwappedIn)
{
    TempFolder temp;
    const auto folder = temp["CLAP"];
    const auto module = folder.getChildFile ("Velquin.clap");
    PeFixture fixture;
    fixture.fileVersion = { 7, 8, 9, 10 };
    const auto bytes = fixture.build();
    ASSERT_TRUE (folder.createDirectory());
    ASSERT_TRUE (module.replaceWithData (bytes.getData(), bytes.getSize()));

    const auto path = module.getFullPathName().toStdString();

    const auto message = inChild ([&]() -> std::string
    {
        int swaps = 0;

        versionProbeSeam() = [&]
        {
            ++swaps;
            rename (path.c_str(), (path + ".moved").c_str());
            mkfifo (path.c_str(), 0600);
        };

        const auto status = probeFormatStatus (folder, "Velquin", 1);

        if (swaps == 0)
            return "the seam never ran";

        return status.installed && status.version == "7.8.9.10" ? "" : ("status " + status.text).toStdString();
    }, 10);

    EXPECT_EQ (message, "") << "a probe that hangs is killed after 10 s";
}

//==============================================================================
// A file system mounted inside an old bundle is not ours to empty: the
// recursive delete stops at it, and the uninstall says it did not finish.
TEST (HostileDisk, DeletingABundleNeverCrossesIntoAnotherFileSystem)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount";

    TempFolder temp;
    const Payload payload;

    SKIP_OR_EXPECT_EMPTY (inChild ([&]() -> std::string
    {
        if (auto failure = enterPrivateMounts(); ! failure.empty())
            return failure;

        const auto folder = temp["VST3"];
        const auto target = folder.getFullPathName().toStdString();
        const auto mounted = target + "/Velquin.vst3/Contents/mounted";

        if (! layOutBundle (target + "/Velquin.vst3", "old") || ! makeFolders (mounted))
            return "could not lay out the bundle";

        if (mount ("tmpfs", mounted.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0)
            return "skip: no tmpfs here";

        if (! writeRaw (mounted + "/precious", "on another file system"))
            return "could not write into the mount";

        const auto ok = runVst3 (folder, true, payload);

        // The mount moved with the bundle into the staging folder, or stayed.
        std::string found;

        for (auto& entry : fs::recursive_directory_iterator (target))
            if (entry.path().filename() == "precious")
                found = entry.path().string();

        std::string failures;

        if (found.empty())
            failures += "the file on the other file system was deleted; ";

        if (ok)
            failures += "the uninstall reported success with the bundle half deleted; ";

        if (! found.empty())
            umount2 (fs::path (found).parent_path().c_str(), MNT_DETACH);

        return failures;
    }));
}

//==============================================================================
// Only the new bundle and the staging folder are synced before the swap: an
// old bundle that a killed run left set aside, moved into the staging folder
// to go with it, may hold anything (here a pipe) and must not stop the install.
TEST (HostileDisk, AnOldBundleMovedInIsNeverSynced)
{
    TempFolder temp;
    const auto folder = temp["VST3"];
    const auto target = folder.getFullPathName().toStdString();
    const Payload payload;

    ASSERT_TRUE (layOutBundle (target + "/Velquin.vst3", "current"));
    ASSERT_TRUE (layOutBundle (target + "/.Velquin.vst3.oh-aside", "set aside"));
    ASSERT_EQ (mkfifo ((target + "/.Velquin.vst3.oh-aside/Contents/pipe").c_str(), 0600), 0);
    ASSERT_TRUE (recordAsMade (temp["state"], "Velquin.vst3", StateFolder::Made::setAside, folder.getChildFile (".Velquin.vst3.oh-aside")));

    EXPECT_TRUE (runVst3 (folder, false, payload, temp["state"]));

    const auto after = rawTree (target);
    EXPECT_EQ (under (after, "Velquin.vst3", true).count ("Velquin.vst3/Contents/x86_64-win/Velquin.vst3"), 1u);
    EXPECT_TRUE (under (after, ".Velquin.vst3.oh-aside", true).empty()) << "the old copy goes with the staging folder";
}

//==============================================================================
// Two entries of the same name (separators and case aside) would let the
// second replace the first: such an archive is refused, the old bundle stays.
TEST (HostileDisk, ArchivesWithAnEntryNameTwiceAreRefused)
{
    const std::pair<const char*, const char*> twins[] = {
        { "Velquin.vst3\\desktop.ini", "Velquin.vst3\\desktop.ini" },
        { "Velquin.vst3\\desktop.ini", "Velquin.vst3/desktop.ini" },
        { "Velquin.vst3\\desktop.ini", "Velquin.vst3\\DESKTOP.INI" },
    };

    for (auto& [first, second] : twins)
    {
        SCOPED_TRACE (second);
        TempFolder temp;
        const auto folder = temp["VST3"];
        const auto target = folder.getFullPathName().toStdString();
        ASSERT_TRUE (layOutBundle (target + "/Velquin.vst3", "old"));
        const auto before = rawTree (target);

        Payload payload;
        payload.archive = ZipFixture().file (first, juce::String ("one")).file (second, juce::String ("two")).build();

        EXPECT_FALSE (runVst3 (folder, false, payload));
        EXPECT_EQ (differences (before, rawTree (target)), "");
    }
}

#endif
