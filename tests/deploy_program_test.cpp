// The window's side of the deploy program: the command line it builds, what
// it makes of each way a run can end, and real runs of stand-in programs
// (pkexec and the deploy program as shell scripts that record what reached them).
#include <juce_events/juce_events.h>

#if ! JUCE_WINDOWS

#include "DeployProgram.h"
#include "RunLog.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace
{
    using DeployRun = DeployProgram::Run;

    OperationRequest requestOf (PerFormat<bool> formats, bool uninstall = false)
    {
        OperationRequest request;
        request.formats = formats;
        request.uninstall = uninstall;
        request.productName = "Velquin";
        return request;
    }

    DeployProgram::Command commandOf (const juce::File& program, const juce::File& pkexec, bool viaPkexec)
    {
        DeployProgram::Command command;
        command.program = program;
        command.pkexec = pkexec;
        command.viaPkexec = viaPkexec;
        return command;
    }

    /** A report as the deploy program prints it: the overall result and exit
        code, and per format (name, action, result, reason of a failure). */
    std::string report (const char* result, int exitCode,
                        std::initializer_list<std::tuple<const char*, const char*, const char*, const char*>> formats)
    {
        juce::String json;
        json << "{\"program\": \"oh_deploy\", \"managerVersion\": \"1.0.5\", \"product\": {\"name\": \"Velquin\", \"version\": \"1.0.0\"},"
             << " \"command\": \"install\", \"dryRun\": false, \"result\": \"" << result << "\", \"exitCode\": " << exitCode
             << ", \"changed\": true, \"restartNeeded\": false, \"formats\": [";

        bool first = true;
        for (auto& [format, action, formatResult, reason] : formats)
        {
            json << (first ? "" : ", ") << "{\"format\": \"" << format << "\", \"folder\": \"/usr/local/lib/vst3\", \"action\": \""
                 << action << "\", \"result\": \"" << formatResult << "\"";
            if (reason != nullptr)
                json << ", \"failure\": {\"step\": \"stage\", \"path\": \"Contents\", \"reason\": \"" << reason << "\"}";
            json << "}";
            first = false;
        }

        return (json + "]}\n").toStdString();
    }

    DeployRun ran (int status, std::string output = {}, bool viaPkexec = true)
    {
        DeployRun run;
        run.viaPkexec = viaPkexec;
        run.status = status;
        run.output = std::move (output);
        return run;
    }
}

TEST (DeployProgram, CommandLineNamesTheVerbTheFormatsAndJsonAndNothingElse)
{
    const auto viaPkexec = commandOf (juce::File ("/usr/sbin/oh-installer-deploy"), juce::File ("/usr/bin/pkexec"), true);
    EXPECT_EQ (DeployProgram::commandLine (viaPkexec, requestOf ({ true, false, true })),
               (std::vector<std::string> { "/usr/bin/pkexec", "--disable-internal-agent", "/usr/sbin/oh-installer-deploy",
                                           "install", "--json", "--formats", "vst3,aax" }));

    auto direct = viaPkexec;
    direct.viaPkexec = false;
    EXPECT_EQ (DeployProgram::commandLine (direct, requestOf ({ false, true, false }, true)),
               (std::vector<std::string> { "/usr/sbin/oh-installer-deploy", "uninstall", "--json", "--formats", "clap" }));
}

// Every way a run ends: the card, what leaves the selection, the hint line.
TEST (DeployProgram, EachEndingHasItsOutcome)
{
    const PerFormat<bool> vst3Clap { true, true, false }, none {};
    const auto command = commandOf (juce::File ("/usr/sbin/oh-installer-deploy"), juce::File ("/usr/bin/pkexec"), true);
    const juce::String log ("see the system log (journalctl -t oh_installer)");

    struct Case
    {
        const char* name;
        DeployRun run;
        bool success;
        PerFormat<bool> processed;
        juce::String hint;
    };

    auto notStarted = [] (DeployRun::Start how) { DeployRun r; r.start = how; return r; };
    auto signalled = [] (int signal) { DeployRun r; r.exited = false; r.status = signal; return r; };

    const Case cases[] = {
        { "installed", ran (0, report ("success", 0, { { "VST3", "install", "success", nullptr }, { "CLAP", "none", "success", nullptr } })),
          true, vst3Clap, "" },
        { "prompt dismissed", ran (126), false, none, "Nothing changed: the password prompt was dismissed" },
        { "not authorised", ran (127), false, none, "Nothing changed: no administrator's authorisation was given" },
        { "126 of a run without pkexec is the program's own", ran (126, {}, false), false, vst3Clap,
          "Failed: the deploy program ended with status 126; " + log },
        { "one format busy", ran (3, report ("busy", 3, { { "VST3", "none", "busy", nullptr }, { "CLAP", "update", "success", nullptr } })),
          false, { false, true, false }, "Another run is at work on VST3: try again in a moment" },
        { "a newer one installed", ran (4, report ("refused", 4, { { "VST3", "refused", "success", nullptr }, { "CLAP", "none", "success", nullptr } })),
          false, vst3Clap, "A newer Velquin is installed (VST3): it was left in place" },
        { "a failure says why", ran (1, report ("failure", 1, { { "VST3", "install", "success", nullptr },
                                                                  { "CLAP", "install", "failure", "No space left on device" } })),
          false, vst3Clap, "CLAP failed: No space left on device" },
        { "a reason is one line", ran (1, report ("failure", 1, { { "VST3", "repair", "failure", "two\\nlines" } })),
          false, vst3Clap, "VST3 failed: two?lines" },
        { "a report that disagrees with the status is not believed", ran (1, report ("success", 0, {})), false, vst3Clap, "Failed: " + log },
        { "busy without a report", ran (3, "not json"), false, none, "Another run is at work on VST3, CLAP: try again in a moment" },
        { "success without a report", ran (0, "\xC0\x80"), true, vst3Clap, "" },
        { "not root", ran (5), false, vst3Clap, "Failed: the deploy program did not run as root" },
        { "command line refused", ran (2), false, vst3Clap, "Failed: the deploy program refused its command line" },
        { "killed", signalled (9), false, vst3Clap, "Failed: the deploy program was ended by signal 9; " + log },
        { "no deploy program", notStarted (DeployRun::Start::programMissing), false, none, "Nothing changed: /usr/sbin/oh-installer-deploy is missing" },
        { "no pkexec", notStarted (DeployRun::Start::pkexecMissing), false, none, "Nothing changed: pkexec is missing (install the pkexec package)" },
        { "could not start", notStarted (DeployRun::Start::failed), false, none, "Nothing changed: /usr/sbin/oh-installer-deploy could not be started" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto outcome = DeployProgram::interpret (requestOf (vst3Clap), command, c.run);
        EXPECT_EQ (outcome.success, c.success);
        EXPECT_EQ (outcome.processed, c.processed);
        EXPECT_EQ (outcome.hint, c.hint);
    }
}

//==============================================================================
namespace
{
    juce::File writeScript (const juce::File& file, const juce::String& text)
    {
        file.replaceWithText (text, false, false, "\n");
        file.setExecutePermission (true);
        return file;
    }

    /** Takes the run log's lines while it lives: a test writes nothing to the machine's log. */
    struct CapturedRunLog
    {
        juce::StringArray lines;

        CapturedRunLog()
        {
            RunLog::setSystemCall ([this] (RunLog::Event event, const juce::String& line)
                                   { lines.add ((event == RunLog::Event::failed ? "failed: " : "info: ") + line); });
        }

        // Back to what the tests' main set: nothing reaches the machine's log.
        ~CapturedRunLog()   { RunLog::setSystemCall ([] (RunLog::Event, const juce::String&) {}); }
    };

    /** Starts the operation and runs the message loop until it answers. */
    std::optional<OperationOutcome> runOperation (const DeployProgram::Command& command, const OperationRequest& request)
    {
        auto operation = DeployProgram::operation (command);
        std::optional<OperationOutcome> answer;
        operation->start (request, [&answer] (const OperationOutcome& o) { answer = o; });

        for (int i = 0; i < 600 && ! answer; ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

        return answer;
    }

    /** A stand-in pkexec that records its arguments, then ends with the status
        the case asks for or runs the rest of its command line as pkexec would;
        and a stand-in deploy program that records what it got and prints a
        report (large: more than a pipe holds at once). */
    struct StandIns
    {
        TempFolder temp;
        juce::File pkexec, program, log;

        explicit StandIns (const char* pkexecEnding)
        {
            log = temp["log"];
            log.createDirectory();
            const auto logPath = log.getFullPathName().quoted ('\'');

            pkexec = writeScript (temp["pkexec"], "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + logPath + "/pkexec\n"
                                                  + (pkexecEnding != nullptr ? juce::String ("exit ") + pkexecEnding
                                                                             : juce::String ("shift\nexec \"$@\"")) + "\n");

            const auto padding = juce::String::repeatedString (" ", 200000);
            program = writeScript (temp["oh_deploy"],
                                   "#!/bin/sh\n"
                                   "{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; readlink /proc/$$/fd/0; ls -l /proc/$$/fd | tr '\\n' ' '; } > " + logPath + "/program\n"
                                   "printf '%s' '" + padding + "'\n"
                                   "printf '%s' '" + juce::String (report ("success", 0, { { "CLAP", "install", "success", nullptr } })) + "'\n");
        }

        juce::String recorded (const char* name) const
        {
            const auto file = log.getChildFile (name);
            return file.existsAsFile() ? file.loadFileAsString() : juce::String ("(not run)");
        }
    };
}

// Through pkexec: pkexec gets the deploy program and its words as separate
// arguments; the program reads nothing from us, and its long report arrives whole.
TEST (DeployProgram, ARealRunThroughPkexecArrivesWhole)
{
    CapturedRunLog log;
    StandIns s (nullptr);
    // One of ours, open across the start: it must not reach the program.
    const auto marker = s.temp["our-marker"];
    ASSERT_TRUE (marker.replaceWithText ("x"));
    const int ours = open (marker.getFullPathName().toRawUTF8(), O_RDONLY);
    ASSERT_GE (ours, 0);

    const auto answer = runOperation (commandOf (s.program, s.pkexec, true), requestOf ({ false, true, false }));

    ASSERT_TRUE (answer.has_value()) << "no answer within 30 s";
    EXPECT_TRUE (answer->success) << answer->hint;
    EXPECT_EQ (answer->processed, (PerFormat<bool> { false, true, false }));
    EXPECT_EQ (s.recorded ("pkexec"), "--disable-internal-agent\n" + s.program.getFullPathName() + "\ninstall\n--json\n--formats\nclap\n");

    const auto lines = juce::StringArray::fromLines (s.recorded ("program"));
    ASSERT_EQ (lines.size(), 6) << s.recorded ("program");
    EXPECT_EQ (lines[4], "/dev/null") << "its standard input";
    EXPECT_FALSE (lines[5].contains ("our-marker")) << lines[5];
    close (ours);
}

// A dismissed or refused password prompt: the deploy program never runs.
TEST (DeployProgram, PkexecsOwnEndingsRunNothing)
{
    CapturedRunLog log;
    auto& logged = log.lines;

    for (auto* ending : { "126", "127" })
    {
        SCOPED_TRACE (ending);
        logged.clear();
        StandIns s (ending);
        const auto answer = runOperation (commandOf (s.program, s.pkexec, true), requestOf ({ true, true, true }, true));
        // The deploy program never ran to say it: the window says it in the run log.
        EXPECT_EQ (logged, juce::StringArray ("failed: Uninstall of VST3, CLAP, AAX: " + answer.value_or (OperationOutcome()).hint
                                              + " (pkexec " + ending + ")"));

        ASSERT_TRUE (answer.has_value());
        EXPECT_FALSE (answer->success);
        EXPECT_EQ (answer->processed, (PerFormat<bool> {}));
        EXPECT_TRUE (answer->hint.startsWith ("Nothing changed: ")) << answer->hint;
        EXPECT_NE (s.recorded ("pkexec"), "(not run)");
        EXPECT_EQ (s.recorded ("program"), "(not run)");
    }
}

// As root the program runs directly; a missing one is said at once.
TEST (DeployProgram, DirectRunAndAMissingProgram)
{
    CapturedRunLog log;
    StandIns s (nullptr);
    auto answer = runOperation (commandOf (s.program, s.pkexec, false), requestOf ({ false, true, false }));
    ASSERT_TRUE (answer.has_value());
    EXPECT_TRUE (answer->success) << answer->hint;
    EXPECT_EQ (s.recorded ("pkexec"), "(not run)");
    EXPECT_TRUE (s.recorded ("program").startsWith ("install\n--json\n--formats\nclap\n"));

    const auto missing = s.temp["nowhere/oh_deploy"];
    answer = runOperation (commandOf (missing, s.pkexec, true), requestOf ({ true, false, false }));
    ASSERT_TRUE (answer.has_value());
    EXPECT_EQ (answer->hint, "Nothing changed: " + missing.getFullPathName() + " is missing");
    EXPECT_EQ (s.recorded ("pkexec"), "(not run)");
    EXPECT_EQ (log.lines, juce::StringArray ("failed: Install of VST3: " + answer->hint));
}

#endif
