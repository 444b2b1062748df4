// The packaged launcher (/usr/bin/<package>) run by the shell against a stub
// pkexec, a stub notify-send and a stub program, in a root of its own. The
// stubs record what reached them; PATH holds nothing else the launcher could use.
#include "support/TempFolder.h"

// A shell script of the Debian package: nothing of it runs on Windows.
#if ! JUCE_WINDOWS

#include <gtest/gtest.h>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    juce::File writeScript (const juce::File& file, const juce::String& text)
    {
        file.getParentDirectory().createDirectory();
        file.replaceWithText (text, false, false, "\n");
        file.setExecutePermission (true);
        return file;
    }

    // Each stub writes one argument per line, so "a b" and "--" stay visible as given.
    constexpr const char* recordArgs = "for a in \"$@\"; do printf '%s\\n' \"$a\"; done";

    struct LauncherRoot
    {
        TempFolder temp;
        juce::File launcher, program, stubs, log;

        LauncherRoot()
        {
            const juce::File generated (OH_LAUNCHER_PATH);
            launcher = temp["usr/bin"].getChildFile (generated.getFileName());
            launcher.getParentDirectory().createDirectory();
            generated.copyFileTo (launcher);
            launcher.setExecutePermission (true);

            log = temp["log"];
            log.createDirectory();
            stubs = temp["stubs"];

            program = writeScript (temp["usr/libexec"].getChildFile (OH_PACKAGE_NAME).getChildFile ("oh_installer"),
                                   juce::String ("#!/bin/sh\n") + recordArgs + " > \"$LOG/program\"\n"
                                   "exit \"${STUB_PROGRAM_STATUS:-0}\"\n");

            // id -u answers the uid the case asks for; everything else of id is not needed.
            writeScript (stubs.getChildFile ("id"), "#!/bin/sh\n[ \"$1\" = -u ] && echo \"$STUB_UID\"\n");
            writeScript (stubs.getChildFile ("pkexec"),
                         juce::String ("#!/bin/sh\n") + recordArgs + " > \"$LOG/pkexec\"\n"
                         "tr '\\0' ' ' < /proc/$PPID/cmdline > \"$LOG/pkexec.parent\"\n"
                         "case $STUB_PKEXEC in\n"
                         "    126) exit 126 ;;\n"
                         "    127) echo 'Error executing command as another user: No authentication agent found.' >&2; exit 127 ;;\n"
                         "esac\n"
                         "\"$@\"\n");
            writeScript (stubs.getChildFile ("notify-send"), juce::String ("#!/bin/sh\n") + recordArgs + " > \"$LOG/notify\"\n");

            // The few tools the launcher and the stubs use, and nothing else.
            for (auto* tool : { "readlink", "dirname", "tr", "printf", "cat" })
                juce::File ("/usr/bin").getChildFile (tool).createSymbolicLink (stubs.getChildFile (tool), true);
        }

        juce::String recorded (const char* name) const
        {
            const auto file = log.getChildFile (name);
            return file.existsAsFile() ? file.loadFileAsString() : "(not run)";
        }
    };

    struct Case
    {
        const char* name;
        const char* uid;
        bool display;
        const char* pkexecMode;   // "run", "126", "127", or nullptr: no pkexec on PATH
        bool notifySend;
        const char* programStatus;
        bool detached;             // started through setsid -f, whose parent exits at once

        int status;
        bool asksPkexec;           // pkexec is started, with the program and its arguments
        bool programRuns;
        const char* says;          // in stderr and the notification; nullptr: silence
    };

    const std::vector<const char*> arguments { "a b", "$(x)", "--" };

    juce::String lines (std::initializer_list<juce::String> first, const std::vector<const char*>& rest)
    {
        juce::String text;
        for (auto& s : first)
            text << s << "\n";
        for (auto* s : rest)
            text << s << "\n";
        return text;
    }

    /** Runs argv with a clean environment, stderr into a file; the exit status, or -1 after a time limit. */
    int run (const std::vector<std::string>& argv, const std::vector<std::string>& env, const juce::File& err)
    {
        std::vector<char*> a, e;
        for (auto& s : argv)
            a.push_back (const_cast<char*> (s.c_str()));
        for (auto& s : env)
            e.push_back (const_cast<char*> (s.c_str()));
        a.push_back (nullptr);
        e.push_back (nullptr);

        const auto pid = fork();
        if (pid == 0)
        {
            const int fd = open (err.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2 (fd, 2);
            execve (a[0], a.data(), e.data());
            _exit (125);
        }

        int status = 0;
        for (int i = 0; i < 200; ++i)
        {
            if (waitpid (pid, &status, WNOHANG) == pid)
                return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
            juce::Thread::sleep (50);
        }
        kill (pid, SIGKILL);
        waitpid (pid, &status, 0);
        return -1;
    }
}

TEST (Launcher, StartsTheProgramThroughPkexecAndSaysWhyWhenItCannot)
{
    const Case cases[] = {
        // name                      uid     display pkexec  notify status detached  exit pkexec program says
        { "already root",            "0",    true,  "run",   true,  "0",  false,      0, false, true,  nullptr },
        { "user: pkexec runs it",    "1000", true,  "run",   true,  "0",  false,      0, true,  true,  nullptr },
        { "password prompt cancelled", "1000", true, "126",  true,  "0",  false,      0, true,  false, nullptr },
        { "no authentication agent", "1000", true,  "127",   true,  "0",  false,    127, true,  false, "authorisation" },
        { "127, no notify-send",     "1000", true,  "127",   false, "0",  false,    127, true,  false, "authorisation" },
        { "DISPLAY unset",           "1000", false, "run",   true,  "0",  false,      1, false, false, "DISPLAY is not set" },
        { "pkexec missing",          "1000", true,  nullptr, true,  "0",  false,    127, false, false, "pkexec is missing" },
        { "the program fails",       "1000", true,  "run",   true,  "3",  false,      3, true,  true,  "status 3" },
        { "parent exits at once",    "1000", true,  "run",   true,  "0",  true,       0, true,  true,  nullptr },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        LauncherRoot root;
        if (c.pkexecMode == nullptr)
            root.stubs.getChildFile ("pkexec").deleteFile();
        if (! c.notifySend)
            root.stubs.getChildFile ("notify-send").deleteFile();

        std::vector<std::string> env { "PATH=" + root.stubs.getFullPathName().toStdString(),
                                       "LOG=" + root.log.getFullPathName().toStdString(),
                                       std::string ("STUB_UID=") + c.uid,
                                       std::string ("STUB_PKEXEC=") + (c.pkexecMode != nullptr ? c.pkexecMode : ""),
                                       std::string ("STUB_PROGRAM_STATUS=") + c.programStatus };
        if (c.display)
            env.push_back ("DISPLAY=:99");

        std::vector<std::string> argv;
        if (c.detached)
            argv = { "/usr/bin/setsid", "-f" };
        argv.push_back (root.launcher.getFullPathName().toStdString());
        argv.insert (argv.end(), arguments.begin(), arguments.end());

        const auto err = root.temp["stderr"];
        const int status = run (argv, env, err);

        if (c.detached)
        {
            // setsid returns at once; the launcher carries on without its parent.
            for (int i = 0; i < 100 && ! root.log.getChildFile ("program").exists(); ++i)
                juce::Thread::sleep (50);
            juce::Thread::sleep (200);
        }
        else
        {
            EXPECT_EQ (status, c.status);
        }

        const auto program = root.program.getFullPathName();
        EXPECT_EQ (root.recorded ("pkexec"), c.asksPkexec ? lines ({ program }, arguments) : "(not run)");
        if (c.asksPkexec)
        {
            EXPECT_TRUE (root.recorded ("pkexec.parent").contains (root.launcher.getFullPathName()))
                << "pkexec's parent must be the waiting launcher, not: " << root.recorded ("pkexec.parent");
        }
        EXPECT_EQ (root.recorded ("program"), c.programRuns ? lines ({}, arguments) : "(not run)");

        const auto stderrText = err.loadFileAsString();
        if (c.says == nullptr)
        {
            EXPECT_EQ (stderrText, "");
            EXPECT_EQ (root.recorded ("notify"), "(not run)");
        }
        else
        {
            // pkexec's own words may come first; the launcher's line names the package.
            const auto said = stderrText.fromFirstOccurrenceOf (juce::String (OH_PACKAGE_NAME) + ": ", false, false);
            EXPECT_TRUE (said.contains (c.says)) << stderrText;
            if (c.notifySend)
            {
                EXPECT_TRUE (root.recorded ("notify").contains (c.says)) << root.recorded ("notify");
            }
        }
    }
}

#endif
