#include "OpenLink.h"

#if ! JUCE_WINDOWS

#include "support/ChildProcess.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <grp.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
constexpr uid_t userId = 4242;
constexpr gid_t extraGroup = 4343;

/** A link no shell may see: each of these characters means something to one. */
const char* const awkwardLink = "https://example.com/a$(touch${IFS}pwned)`id`;b'c'\"d\"&e|f<g>h";

/** What the recording xdg-open saw, one item a line. */
struct Record
{
    juce::String uid, gid, groups, home, runtimeDir, bus, display, rootOnly, argumentCount, firstArgument, workingDir;
};

/** The world of one case, in the child's own mount namespace: a desktop user
    known to the name service, their session in /run/user, and a recording
    xdg-open first on PATH. Empty, "skip: ..." or what went wrong. */
std::string setUpDesktopUser (const juce::File& root)
{
    if (auto failure = enterPrivateMounts(); ! failure.empty())
        return failure;

    const auto home = root.getChildFile ("home");
    const auto bin = root.getChildFile ("bin");
    const auto out = root.getChildFile ("out");

    for (const auto& folder : { home, bin, out })
        folder.createDirectory();

    chmod (root.getFullPathName().toRawUTF8(), 0755);
    chmod (bin.getFullPathName().toRawUTF8(), 0755);
    chmod (out.getFullPathName().toRawUTF8(), 0777);
    chmod (home.getFullPathName().toRawUTF8(), 0700);

    if (chown (home.getFullPathName().toRawUTF8(), userId, userId) != 0)
        return "skip: cannot give a folder to another user";

    const auto passwd = root.getChildFile ("passwd");
    const auto group = root.getChildFile ("group");
    passwd.replaceWithText (juce::File ("/etc/passwd").loadFileAsString()
                            + "ohlinkuser:x:4242:4242::" + home.getFullPathName() + ":/bin/sh\n", false, false, "\n");
    group.replaceWithText (juce::File ("/etc/group").loadFileAsString()
                           + "ohlinkuser:x:4242:\nohlinkextra:x:" + juce::String ((int) extraGroup) + ":ohlinkuser\n", false, false, "\n");

    if (mount (passwd.getFullPathName().toRawUTF8(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0
         || mount (group.getFullPathName().toRawUTF8(), "/etc/group", nullptr, MS_BIND, nullptr) != 0)
        return "could not lay the test's user over /etc/passwd and /etc/group";

    // The user's session: their runtime folder and the bus socket in it.
    if (mount ("tmpfs", "/run", "tmpfs", 0, "size=1m,mode=0755") != 0)
        return "could not lay a tmpfs over /run";

    mkdir ("/run/user", 0755);
    mkdir ("/run/user/4242", 0700);

    if (chown ("/run/user/4242", userId, userId) != 0)
        return "could not give /run/user/4242 to the user";

    const int bus = socket (AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strcpy (address.sun_path, "/run/user/4242/bus");

    if (bus < 0 || bind (bus, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0
         || chown ("/run/user/4242/bus", userId, userId) != 0)
        return "could not make the user's bus socket";

    const auto record = out.getChildFile ("record").getFullPathName();
    const auto xdgOpen = bin.getChildFile ("xdg-open");
    xdgOpen.replaceWithText ("#!/bin/sh\n"
                             "{ id -u; id -g; id -G; printf '%s\\n' \"$HOME\" \"$XDG_RUNTIME_DIR\" "
                             "\"$DBUS_SESSION_BUS_ADDRESS\" \"$DISPLAY\" \"$ROOT_ONLY\" \"$#\" \"$1\" \"$(pwd)\"; } > "
                             + record + ".part && mv " + record + ".part " + record + "\n", false, false, "\n");
    chmod (xdgOpen.getFullPathName().toRawUTF8(), 0755);

    // A shell that ran the link would leave its file here.
    if (chdir (root.getFullPathName().toRawUTF8()) != 0)
        return "could not enter the test's folder";

    setenv ("PATH", (bin.getFullPathName() + ":/usr/bin:/bin").toRawUTF8(), 1);
    setenv ("DISPLAY", ":77", 1);
    setenv ("ROOT_ONLY", "not for the user", 1);
    unsetenv ("PKEXEC_UID");
    unsetenv ("SUDO_UID");
    return {};
}

/** Waits for the recording xdg-open to finish writing. */
bool readRecord (const juce::File& file, Record& record)
{
    for (int i = 0; i < 200 && ! file.existsAsFile(); ++i)
        juce::Thread::sleep (50);

    juce::StringArray lines;
    lines.addLines (file.loadFileAsString());

    if (lines.size() < 11)
        return false;

    record = { lines[0], lines[1], lines[2], lines[3], lines[4], lines[5], lines[6], lines[7], lines[8], lines[9], lines[10] };
    return true;
}

struct LinkCase
{
    const char* name;
    const char* pkexecUid;   // nullptr: unset
    const char* sudoUid;
    const char* expectedUid; // nullptr: nothing may start
};

class OpenLinkAsUser : public ::testing::TestWithParam<LinkCase> {};
} // namespace

//==============================================================================
// Started as root for a desktop user, the handler runs as that user, in their
// session, with the link as its one argument and nothing of root's environment.
TEST_P (OpenLinkAsUser, RunsTheHandlerAsTheUserThatStartedUs)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";

    const auto& c = GetParam();
    TempFolder temp;
    const auto root = temp.get();
    const auto asUser = c.expectedUid != nullptr && std::string (c.expectedUid) != "0";

    const auto message = inChild ([&]() -> std::string
    {
        if (auto failure = setUpDesktopUser (root); ! failure.empty())
            return failure;

        if (c.pkexecUid != nullptr) setenv ("PKEXEC_UID", c.pkexecUid, 1);
        if (c.sudoUid != nullptr)   setenv ("SUDO_UID", c.sudoUid, 1);

        // As root, the framework's launcher goes through a shell: only a plain link there.
        const auto link = asUser || c.expectedUid == nullptr ? juce::String (awkwardLink) : juce::String ("https://example.com/plain");
        const auto started = openLinkAsDesktopUser (juce::URL::createWithoutParsing (link));
        const auto recordFile = root.getChildFile ("out/record");

        if (c.expectedUid == nullptr)
        {
            juce::Thread::sleep (300);
            return started || recordFile.exists() ? "a handler started for a variable that names no usable user" : "";
        }

        if (! started)
            return "nothing started";

        Record r;

        if (! readRecord (recordFile, r))
            return "no record from xdg-open";

        std::cout << "    xdg-open ran with uid " << r.uid << ", gid " << r.gid << ", groups " << r.groups << ", HOME " << r.home
                  << ", XDG_RUNTIME_DIR " << r.runtimeDir << ", DBUS_SESSION_BUS_ADDRESS " << r.bus << ", " << r.argumentCount
                  << " argument: " << r.firstArgument << std::endl;

        std::string problems;
        const auto expect = [&] (const char* what, const juce::String& got, const juce::String& wanted)
        {
            if (got != wanted)
                problems += std::string (what) + " was \"" + got.toStdString() + "\", not \"" + wanted.toStdString() + "\"\n";
        };

        expect ("uid", r.uid, c.expectedUid);
        expect ("arguments", r.argumentCount, "1");
        expect ("link", r.firstArgument, link);

        if (asUser)
        {
            expect ("gid", r.gid, "4242");
            expect ("groups", r.groups, "4242 " + juce::String ((int) extraGroup));
            expect ("HOME", r.home, root.getChildFile ("home").getFullPathName());
            expect ("working folder", r.workingDir, root.getChildFile ("home").getFullPathName());
            expect ("XDG_RUNTIME_DIR", r.runtimeDir, "/run/user/4242");
            expect ("DBUS_SESSION_BUS_ADDRESS", r.bus, "unix:path=/run/user/4242/bus");
            expect ("DISPLAY", r.display, ":77");
            expect ("ROOT_ONLY", r.rootOnly, "");
        }

        if (root.getChildFile ("home/pwned").exists() || root.getChildFile ("pwned").exists())
            problems += "a shell ran the link\n";

        return problems;
    });

    if (message.rfind ("skip:", 0) == 0)
        GTEST_SKIP() << message;

    EXPECT_EQ ("", message);
}

INSTANTIATE_TEST_SUITE_P (
    Variables, OpenLinkAsUser,
    ::testing::Values (LinkCase { "pkexec",           "4242",  nullptr, "4242" },
                       LinkCase { "sudo",             nullptr, "4242",  "4242" },
                       LinkCase { "pkexecBeforeSudo", "4242",  "0",     "4242" },
                       LinkCase { "rootItself",       nullptr, nullptr, "0" },
                       LinkCase { "pkexecByRoot",     "0",     "4242",  "0" },
                       LinkCase { "unknownUser",      "4244",  nullptr, nullptr },
                       LinkCase { "notANumber",       "4242x", nullptr, nullptr },
                       LinkCase { "negative",         "-1",    nullptr, nullptr }),
    [] (const auto& testInfo) { return std::string (testInfo.param.name); });

#endif

#if JUCE_WINDOWS
 #include "OpenLinkWindows.h"

 #include <gtest/gtest.h>
 #include <juce_gui_basics/juce_gui_basics.h>

// Elevated, a link opens only through the desktop's Explorer, at the user's
// own level. Where that cannot take it, no browser starts with the
// administrator's token: the address waits on the clipboard instead.
TEST (OpenLinkWindows, ElevatedNothingOpensButThroughTheDesktopsExplorer)
{
    struct Case
    {
        bool elevated, explorerTakesIt;
        bool started, shellExecuted, onClipboard;
    };

    const Case cases[] = {
        { false, false, true,  true,  false },
        { true,  true,  true,  false, false },
        { true,  false, false, false, true  },
    };

    const auto saved = OpenLinkWindows::calls();
    const juce::String link ("https://oakhaze.com/velquin?from=installer");

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.elevated ? "elevated" : "not elevated") + (c.explorerTakesIt ? ", Explorer takes it" : ", no Explorer"));
        juce::StringArray explorer, shell;
        juce::SystemClipboard::copyTextToClipboard ("before");

        auto& calls = OpenLinkWindows::calls();
        calls.isElevated = [&] { return c.elevated; };
        calls.throughDesktopExplorer = [&] (const juce::String& l) { explorer.add (l); return c.explorerTakesIt; };
        calls.shellExecute = [&] (const juce::String& l) { shell.add (l); return true; };

        EXPECT_EQ (openLinkAsDesktopUser (juce::URL (link)), c.started);
        EXPECT_EQ (shell, c.shellExecuted ? juce::StringArray (link) : juce::StringArray());
        EXPECT_EQ (explorer, c.elevated ? juce::StringArray (link) : juce::StringArray());
        EXPECT_EQ (juce::SystemClipboard::getTextFromClipboard(), c.onClipboard ? link : juce::String ("before"));

        OpenLinkWindows::calls() = saved;
    }
}
#endif
