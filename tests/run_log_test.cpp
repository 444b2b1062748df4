#include "Installer.h"
#include "MainComponent.h"
#include "RunLog.h"
#include "Settings.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <vector>

#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <dirent.h>
 #include <sys/mount.h>
 #include <sys/socket.h>
 #include <sys/stat.h>
 #include <sys/un.h>
 #include <syslog.h>
 #include <unistd.h>
#endif

namespace
{
struct Line
{
    RunLog::Event event;
    juce::String text;
};

/** Collects what would go to the system's log while it lives. */
struct CapturedLog
{
    CapturedLog()
    {
        RunLog::setSystemCall ([this] (RunLog::Event event, const juce::String& text) { lines.push_back ({ event, text }); });
    }

    ~CapturedLog()
    {
        RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});
    }

    std::vector<Line> lines;
};

/** Payload-form archives of a small bundle for each format; the AAX one's
    module fails its CRC when asked. */
PerFormat<juce::MemoryBlock> smallArchives (bool damagedAax = false)
{
    auto aax = ZipFixture().directory ("Velquin.aaxplugin")
                   .file ("Velquin.aaxplugin\\Contents\\x64\\Velquin.aaxplugin", ZipFixture::sampleContent (20000, 3));

    if (damagedAax)
        aax.withWrongCrc();

    return { ZipFixture().directory ("Velquin.vst3").directory ("Velquin.vst3\\Contents")
                 .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (20000, 1)).build(),
             ZipFixture().file ("Velquin.clap", ZipFixture::sampleContent (20000, 2)).build(),
             aax.build() };
}

PerFormat<PayloadArchive> payloadsOf (const PerFormat<juce::MemoryBlock>& archives)
{
    PerFormat<PayloadArchive> payloads;

    for (size_t k = 0; k < payloads.size(); ++k)
        payloads[k] = { archives[k].getData(), archives[k].getSize() };

    return payloads;
}

juce::String path (const juce::File& f)   { return f.getFullPathName(); }
} // namespace

//==============================================================================
// The start line names who started us, the product, the three folders and where
// they came from; a settings file that is not used says why.
TEST (RunLog, StartLineSaysWhereTheFoldersCameFrom)
{
    struct Case
    {
        const char* name;
        const char* content;   // nullptr: no file
        const char* expected;
    };

    const Case cases[] = {
        { "no file",     nullptr, " (defaults)" },
        { "a file",      "<Plugin_Manager_Settings VST3_Path=\"@/v\" CLAP_Path=\"@/c\" AAX_Path=\"@/a\"/>", " (from the settings file @)" },
        { "not XML",     "VST3_Path=/v", " (defaults; settings file @ ignored: not a settings file" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TempFolder temp;
        const auto paths = temp.systemPaths();
        const auto settings = paths.commonAppDataFolder.getChildFile ("Oakhaze/PluginManagerSettings.txt");
        const auto base = temp.get().getFullPathName();

        if (c.content != nullptr)
        {
            settings.getParentDirectory().createDirectory();
            settings.replaceWithText (juce::String (c.content).replace ("@", base));
        }

        CapturedLog log;
        MainComponent main (paths);

        ASSERT_EQ (log.lines.size(), 1u);
        EXPECT_EQ (log.lines[0].event, RunLog::Event::started);

        const auto& folders = main.getFormatFolders();
        const auto& line = log.lines[0].text;
        EXPECT_TRUE (line.startsWith ("Oakhaze Plugin Manager " OH_PROJECT_VERSION " started by ")) << line;
        EXPECT_TRUE (line.contains (" for " + Product::displayName() + " " + Product::version + ": VST3 " + path (folders[0])
                                    + ", CLAP " + path (folders[1]) + ", AAX " + path (folders[2]) + " (")) << line;
        EXPECT_TRUE (line.contains (juce::String (c.expected).replace ("@", path (settings)))) << line;
    }
}

// One line per format processed, in the order they finish; a failure says at
// which step, where below the target folder and what the system said.
TEST (RunLog, OneLinePerFormatWithTheFailure)
{
    TempFolder temp;
    const auto archives = smallArchives (true);
    const PerFormat<juce::File> folders { temp["VST3"], juce::File(), temp["Plug-Ins"] };
    const auto separator = juce::File::getSeparatorString();

    CapturedLog log;
    PerFormat<bool> selection { true, true, true };
    EXPECT_FALSE (processSelectedFormats (selection, false, folders, "Velquin", payloadsOf (archives)));

    selection = { true, false, false };
    EXPECT_TRUE (processSelectedFormats (selection, true, folders, "Velquin", payloadsOf (archives)));

    std::vector<std::pair<RunLog::Event, juce::String>> got;

    for (auto& l : log.lines)
        got.emplace_back (l.event, l.text);

    const std::vector<std::pair<RunLog::Event, juce::String>> expected {
        // The empty folder fails at once; the VST3 install is finished after it, while AAX is staged.
        { RunLog::Event::failed,    "CLAP install into (none): failed at open target, the folder itself" },
        { RunLog::Event::succeeded, "VST3 install into " + path (folders[0]) + ": succeeded" },
        { RunLog::Event::failed,    "AAX install into " + path (folders[2]) + ": failed at verify, Velquin.aaxplugin" + separator
                                    + "Contents" + separator + "x64" + separator + "Velquin.aaxplugin" },
        { RunLog::Event::succeeded, "VST3 uninstall from " + path (folders[0]) + ": succeeded" },
    };

    EXPECT_EQ (got, expected);
}

// A line holds one line: a control character in a path is shown, not written.
// C1 controls (NEL ends a line for some readers, CSI starts a terminal
// sequence) and the Unicode line and paragraph separators too.
TEST (RunLog, ControlCharactersInPathsStayOnOneLine)
{
    const struct
    {
        juce::juce_wchar character;
        const char* shown;
    } rows[] = {
        { 0x0a, "\\x0a" }, { 0x0d, "\\x0d" }, { 0x1b, "\\x1b" }, { 0x7f, "\\x7f" },
        { 0x85, "\\x85" }, { 0x9b, "\\x9b" }, { 0x80, "\\x80" }, { 0x9f, "\\x9f" },
        { 0x2028, "\\u2028" }, { 0x2029, "\\u2029" },
    };

    for (auto& row : rows)
    {
        SCOPED_TRACE (row.shown);
        CapturedLog log;
        RunLog::Failure failure;
        failure.noted = true;
        failure.step = RunLog::Step::swap;
        failure.pathBelowTarget = "Velquin.vst3" + juce::String::charToString (row.character) + "fake line";

        const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile ("a" + juce::String::charToString (row.character) + "b");
        RunLog::formatProcessed (0, false, folder, false, failure);

        ASSERT_EQ (log.lines.size(), 1u);
        EXPECT_EQ (log.lines[0].text, "VST3 install into " + folder.getFullPathName().replace (juce::String::charToString (row.character), row.shown)
                                      + ": failed at swap, Velquin.vst3" + row.shown + "fake line");
    }

    // Text that only looks alike stays as it is.
    CapturedLog log;
    RunLog::Failure failure;
    failure.noted = true;
    failure.pathBelowTarget = juce::String::fromUTF8 ("Velquin\xc2\xa0\xe2\x80\xa8x");   // no-break space, then U+2028
    RunLog::formatProcessed (0, false, juce::File ("/p"), false, failure);
    ASSERT_EQ (log.lines.size(), 1u);
    EXPECT_TRUE (log.lines[0].text.endsWith (juce::String::fromUTF8 ("Velquin\xc2\xa0") + "\\u2028x")) << log.lines[0].text;
}

// A log that fails, or touches the system's last error, changes nothing the
// caller goes on to read.
TEST (RunLog, AWriteKeepsTheCallersLastError)
{
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) { RunLog::restoreLastSystemError (5); });
    RunLog::restoreLastSystemError (28);
    RunLog::write (RunLog::Event::failed, "a line the system refuses");
    EXPECT_EQ (RunLog::lastSystemError(), 28);
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});
}

#if JUCE_WINDOWS
// The real event log under Wine's throw-away prefix: our source's texts come
// from the system's EventCreate.exe below %SystemRoot%, which only the system
// may change, never from this program's own copy, wherever it was started.
TEST (RunLog, EventSourceTextsComeFromAFileOnlyTheSystemMayChange)
{
    RunLog::setSystemCall ({});
    RunLog::write (RunLog::Event::failed, "VST3 install into C:\\x: failed at stage, Velquin.vst3: There is not enough space on the disk.");
    RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {});

    HKEY key = nullptr;
    ASSERT_EQ (RegOpenKeyExW (HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Oakhaze Plugin Manager",
                              0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);

    wchar_t registered[MAX_PATH + 1] {};
    DWORD size = sizeof (registered) - sizeof (wchar_t);
    DWORD type = 0;
    const auto result = RegQueryValueExW (key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*> (registered), &size);
    RegCloseKey (key);

    ASSERT_EQ (result, ERROR_SUCCESS);
    EXPECT_EQ (type, (DWORD) REG_EXPAND_SZ);
    EXPECT_EQ (juce::String (registered), "%SystemRoot%\\System32\\EventCreate.exe");
}
#endif

#if ! JUCE_WINDOWS
namespace
{
/** In the child: a /dev of our own whose log is a datagram socket we read,
    everything else the machine's. Returns the socket, or -1 with why. */
int takeOverDevLog (const juce::File& scratch, std::string& failure)
{
    if (failure = enterPrivateMounts(); ! failure.empty())
        return -1;

    const auto machineDev = scratch.getChildFile ("machine-dev");
    machineDev.createDirectory();

    if (mount ("/dev", machineDev.getFullPathName().toRawUTF8(), nullptr, MS_BIND | MS_REC, nullptr) != 0
         || mount ("tmpfs", "/dev", "tmpfs", 0, "size=1m,mode=0755") != 0)
    {
        failure = "could not lay a tmpfs over /dev";
        return -1;
    }

    if (auto* dir = opendir (machineDev.getFullPathName().toRawUTF8()))
    {
        while (auto* entry = readdir (dir))
            if (std::string (entry->d_name) != "." && std::string (entry->d_name) != ".." && std::string (entry->d_name) != "log")
                symlink (machineDev.getChildFile (entry->d_name).getFullPathName().toRawUTF8(),
                         (std::string ("/dev/") + entry->d_name).c_str());

        closedir (dir);
    }

    const int log = socket (AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strcpy (address.sun_path, "/dev/log");

    if (log < 0 || bind (log, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0)
    {
        failure = "could not bind /dev/log";
        return -1;
    }

    return log;
}

/** Every datagram waiting on the socket. */
std::vector<std::string> receiveAll (int socket)
{
    std::vector<std::string> messages;
    char buffer[65536];

    for (ssize_t n; (n = recv (socket, buffer, sizeof (buffer), MSG_DONTWAIT)) > 0;)
        messages.emplace_back (buffer, (size_t) n);

    return messages;
}
} // namespace

// What the system's log receives: syslog datagrams at /dev/log under the ident
// oh_installer, an error for the failed format, information for the rest, and
// nothing else. Without a log at all the results stay the same.
TEST (RunLog, SyslogReceivesTheRunsLines)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a private /dev";

    TempFolder temp;
    const auto archives = smallArchives();
    const auto readOnly = temp["readonly"];
    const PerFormat<juce::File> folders { readOnly.getChildFile ("VST3"), temp["CLAP"], temp["AAX"] };
    const auto appData = temp["appdata"];

    std::vector<std::string> received;

    const auto message = inChild ([&]() -> std::string
    {
        std::string failure;
        RunLog::setSystemCall ({});   // the real one: syslog
        closelog();

        // No log to write to: the same results, and no line is waited for.
        {
            const auto& scratch = temp.get();
            if (failure = enterPrivateMounts(); ! failure.empty())
                return failure;

            if (mount ("tmpfs", "/dev", "tmpfs", 0, "size=1m,mode=0755") != 0)
                return "could not hide /dev/log";

            PerFormat<bool> selection { false, true, false };
            const bool ok = processSelectedFormats (selection, false, folders, "Velquin", payloadsOf (archives));

            if (umount2 ("/dev", MNT_DETACH) != 0)
                return "could not give /dev back";

            if (! ok || ! scratch.getChildFile ("CLAP/Velquin.clap").existsAsFile())
                return "the install failed without a log";
        }

        const int log = takeOverDevLog (temp["scratch"], failure);

        if (log < 0)
            return failure;

        // The settings file: writable by every user, so a root run does not trust it.
        const auto settingsFile = appData.getChildFile ("Oakhaze/PluginManagerSettings.txt");
        settingsFile.getParentDirectory().createDirectory();
        settingsFile.replaceWithText ("<Plugin_Manager_Settings VST3_Path=\"/etc\" CLAP_Path=\"/etc\" AAX_Path=\"/etc\"/>");
        chmod (settingsFile.getFullPathName().toRawUTF8(), 0666);

        setenv ("PKEXEC_UID", "1000", 1);
        const auto settings = resolveSettings (appData, folders);
        RunLog::started ("Velquin", "1.0.0", settings.formatFolders,
                         { settings.fromSettingsFile, settings.settingsFile, settings.ignoredBecause });

        // The VST3 folder is read-only, an old bundle in it; CLAP goes through.
        readOnly.getChildFile ("VST3/Velquin.vst3").createDirectory();
        const auto* ro = readOnly.getFullPathName().toRawUTF8();

        if (mount (ro, ro, nullptr, MS_BIND, nullptr) != 0 || mount (nullptr, ro, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return "could not make the VST3 folder read-only";

        PerFormat<bool> selection { true, true, false };

        if (processSelectedFormats (selection, false, settings.formatFolders, "Velquin", payloadsOf (archives)))
            return "reported success on a read-only folder";

        selection = { true, false, false };

        if (processSelectedFormats (selection, true, settings.formatFolders, "Velquin", payloadsOf (archives)))
            return "reported an uninstall from a read-only folder";

        std::string lines;

        for (auto& m : receiveAll (log))
            lines += m + "\n";

        return "lines:" + lines;
    });

    ASSERT_EQ (message.rfind ("lines:", 0), 0u) << message;

    juce::StringArray lines;
    lines.addLines (juce::String (message.substr (6)).trimEnd());

    for (auto& l : lines)
        std::cout << "    " << l << '\n';

    ASSERT_EQ (lines.size(), 4) << "a start line and one per format, nothing else";

    // <priority>timestamp oh_installer[pid]: text; user facility, info 6, error 3.
    const auto pid = juce::String ("oh_installer[");
    EXPECT_TRUE (lines[0].startsWith ("<14>")) << lines[0];
    EXPECT_TRUE (lines[0].contains (pid)) << lines[0];
    EXPECT_TRUE (lines[0].contains ("]: Oakhaze Plugin Manager " OH_PROJECT_VERSION " started by uid 0 for uid 1000 (pkexec) for Velquin 1.0.0: VST3 "
                                    + path (folders[0]) + ", CLAP " + path (folders[1]) + ", AAX " + path (folders[2])
                                    + " (defaults; settings file " + path (appData.getChildFile ("Oakhaze/PluginManagerSettings.txt"))
                                    + " ignored: it may be changed by others than the administrators)")) << lines[0];

    EXPECT_TRUE (lines[1].startsWith ("<11>")) << lines[1];
    EXPECT_TRUE (lines[1].endsWith ("]: VST3 install into " + path (folders[0]) + ": failed at stage, .Velquin.vst3.oh-staging-*: Read-only file system")) << lines[1];

    EXPECT_TRUE (lines[2].startsWith ("<14>")) << lines[2];
    EXPECT_TRUE (lines[2].endsWith ("]: CLAP install into " + path (folders[1]) + ": succeeded")) << lines[2];

    EXPECT_TRUE (lines[3].startsWith ("<11>")) << lines[3];
    EXPECT_TRUE (lines[3].endsWith ("]: VST3 uninstall from " + path (folders[0]) + ": failed at delete, Velquin.vst3: Read-only file system")) << lines[3];
}
#endif
