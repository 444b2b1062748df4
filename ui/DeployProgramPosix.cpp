#include "DeployProgram.h"

#include "RunLog.h"
#include "Utf8.h"

#include <juce_events/juce_events.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace DeployProgram
{
namespace
{
    const char* const formatWords[] = { "vst3", "clap", "aax" };

    /** "VST3, CLAP": the formats of a request, for the hint line and the log. */
    juce::String formatList (const PerFormat<bool>& formats)
    {
        juce::StringArray names;

        for (int k = 0; k < numFormats; ++k)
            if (formats[(size_t) k])
                names.add (formatNames[k]);

        return names.joinIntoString (", ");
    }

    /** Text from the report for one line: control characters and anything
        past a screen's width dropped. */
    juce::String oneLine (const juce::String& text)
    {
        juce::String line;

        for (auto p = text.getCharPointer(); ! p.isEmpty() && line.length() < 160;)
        {
            const auto c = p.getAndAdvance();
            line << (c < 0x20 || c == 0x7f ? juce::String ("?") : juce::String::charToString (c));
        }

        return line;
    }

    /** Our own executable, from the system rather than from argv[0], which
        whoever starts us may choose. */
    juce::File ownExecutable()
    {
        char path[PATH_MAX];
        const auto n = readlink ("/proc/self/exe", path, sizeof (path));

        if (n <= 0 || (size_t) n >= sizeof (path) || ! isWellFormedUtf8 (path, (size_t) n))
            return {};

        return juce::File (juce::String::fromUTF8 (path, (int) n));
    }

    /** The report the deploy program printed, when it is one: its program,
        and its exit code agreeing with the status the run ended with. */
    juce::var readReport (const std::string& output, int status)
    {
        if (output.empty() || ! isWellFormedUtf8 (output.data(), output.size()))
            return {};

        juce::var report;

        if (juce::JSON::parse (juce::String::fromUTF8 (output.data(), (int) output.size()), report).failed()
             || ! report.isObject() || report["program"] != juce::var ("oh_deploy")
             || ! report["exitCode"].isInt() || (int) report["exitCode"] != status || ! report["formats"].isArray())
            return {};

        return report;
    }

    int formatIndex (const juce::var& name)
    {
        const auto k = formatNames.indexOf (name.toString());
        return k >= 0 && k < numFormats ? k : -1;
    }

    const juce::String logHint ("see the system log (journalctl -t oh_installer)");
}

//==============================================================================
Command Command::forThisProcess()
{
    Command command;
    const auto besideUs = ownExecutable().getSiblingFile ("oh_deploy");

    command.program = besideUs.existsAsFile() ? besideUs : juce::File (OH_PACKAGED_DEPLOY_PROGRAM);
    command.pkexec = juce::File ("/usr/bin/pkexec");
    command.viaPkexec = geteuid() != 0;
    return command;
}

std::vector<std::string> commandLine (const Command& command, const OperationRequest& request)
{
    std::vector<std::string> words;

    if (command.viaPkexec)
    {
        words.push_back (command.pkexec.getFullPathName().toStdString());
        // Our standard input is no terminal: without the desktop's agent there is no one to ask.
        words.push_back ("--disable-internal-agent");
    }

    std::string formats;

    for (size_t k = 0; k < request.formats.size(); ++k)
        if (request.formats[k])
            formats += (formats.empty() ? "" : ",") + std::string (formatWords[k]);

    words.push_back (command.program.getFullPathName().toStdString());
    words.push_back (request.uninstall ? "uninstall" : "install");
    words.push_back ("--json");
    words.push_back ("--formats");
    words.push_back (formats);
    return words;
}

//==============================================================================
OperationOutcome interpret (const OperationRequest& request, const Command& command, const Run& run)
{
    OperationOutcome outcome;
    const auto program = command.program.getFullPathName();

    // Not run: nothing changed, and the selection stays for another try.
    switch (run.start)
    {
        case Run::Start::programMissing:  outcome.hint = "Nothing changed: " + program + " is missing"; return outcome;
        case Run::Start::pkexecMissing:   outcome.hint = "Nothing changed: pkexec is missing (install the pkexec package)"; return outcome;
        case Run::Start::failed:          outcome.hint = "Nothing changed: " + program + " could not be started"; return outcome;
        case Run::Start::started:         break;
    }

    if (run.viaPkexec && run.exited && run.status == 126)
    {
        outcome.hint = "Nothing changed: the password prompt was dismissed";
        return outcome;
    }

    if (run.viaPkexec && run.exited && run.status == 127)
    {
        outcome.hint = "Nothing changed: no administrator's authorisation was given";
        return outcome;
    }

    // From here on the deploy program ran, at least in part.
    outcome.processed = request.formats;

    if (! run.exited)
    {
        outcome.hint = "Failed: the deploy program was ended by signal " + juce::String (run.status) + "; " + logHint;
        return outcome;
    }

    const auto report = readReport (run.output, run.status);

    if (report.isObject())
    {
        PerFormat<bool> busy {}, refused {};
        juce::String firstFailure;

        for (const auto& entry : *report["formats"].getArray())
        {
            const auto k = formatIndex (entry["format"]);

            if (k < 0 || ! request.formats[(size_t) k])
                continue;

            if (entry["result"] == juce::var ("busy"))
            {
                busy[(size_t) k] = true;
                outcome.processed[(size_t) k] = false;   // untouched: another try may do it
            }
            else if (entry["action"] == juce::var ("refused"))
            {
                refused[(size_t) k] = true;
            }
            else if (entry["result"] == juce::var ("failure") && firstFailure.isEmpty())
            {
                const auto& failure = entry["failure"];
                const auto reason = failure["reason"].toString().isNotEmpty() ? failure["reason"].toString()
                                                                              : "at " + failure["step"].toString();
                firstFailure = formatNames[k] + " failed: " + oneLine (reason);
            }
        }

        const auto result = report["result"].toString();

        if (result == "success" && run.status == 0)
            outcome.success = true;
        else if (result == "failure")
            outcome.hint = firstFailure.isNotEmpty() ? firstFailure : "Failed: " + logHint;
        else if (result == "busy")
            outcome.hint = "Another run is at work on " + formatList (busy) + ": try again in a moment";
        else if (result == "refused")
            outcome.hint = "A newer " + request.productName + " is installed (" + formatList (refused) + "): it was left in place";
        else
            outcome.hint = "Failed: the deploy program did not run as root";

        return outcome;
    }

    // No report to read: its exit status alone, as its manual lists them.
    switch (run.status)
    {
        case 0:  outcome.success = true; break;
        case 1:  outcome.hint = "Failed: " + logHint; break;
        case 2:  outcome.hint = "Failed: the deploy program refused its command line"; break;
        case 3:  outcome.hint = "Another run is at work on " + formatList (request.formats) + ": try again in a moment";
                 outcome.processed = {};
                 break;
        case 4:  outcome.hint = "A newer " + request.productName + " is installed: it was left in place"; break;
        case 5:  outcome.hint = "Failed: the deploy program did not run as root"; break;
        default: outcome.hint = "Failed: the deploy program ended with status " + juce::String (run.status) + "; " + logHint; break;
    }

    return outcome;
}

//==============================================================================
namespace
{
    /** One run of the deploy program at a time, watched from the message
        thread: its output is read as it comes, so that it never waits on a
        full pipe, and its end is seen without blocking. */
    class DeployOperation final : public Operation,
                                  private juce::Timer
    {
    public:
        explicit DeployOperation (Command c) : command (std::move (c)) {}

        ~DeployOperation() override
        {
            // A run still going finishes by itself; it only loses its reader.
            stopTimer();

            if (output >= 0)
                close (output);
        }

        void start (const OperationRequest& r, Done d) override
        {
            request = r;
            done = std::move (d);
            run = {};
            run.viaPkexec = command.viaPkexec;

            if (command.viaPkexec && ! command.pkexec.existsAsFile())
                return finish (Run::Start::pkexecMissing);

            if (! command.program.existsAsFile())
                return finish (Run::Start::programMissing);

            if (! spawn())
                return finish (Run::Start::failed);

            startTimer (50);
        }

    private:
        bool spawn()
        {
            int pipeEnds[2];

            if (pipe2 (pipeEnds, O_CLOEXEC) != 0)
                return false;

            const auto words = commandLine (command, request);
            std::vector<char*> argv;

            for (auto& word : words)
                argv.push_back (const_cast<char*> (word.c_str()));

            argv.push_back (nullptr);

            // Nothing of ours reaches it but the log on standard error: no
            // input, the report's pipe as its output, no other descriptor.
            posix_spawn_file_actions_t actions;
            posix_spawnattr_t attributes;
            posix_spawn_file_actions_init (&actions);
            posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], 1);
            posix_spawn_file_actions_addclosefrom_np (&actions, 3);

            sigset_t none, defaults;
            sigemptyset (&none);
            sigemptyset (&defaults);
            sigaddset (&defaults, SIGPIPE);
            posix_spawnattr_init (&attributes);
            posix_spawnattr_setsigmask (&attributes, &none);
            posix_spawnattr_setsigdefault (&attributes, &defaults);
            posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

            const auto result = posix_spawn (&child, argv[0], &actions, &attributes, argv.data(), environ);

            posix_spawn_file_actions_destroy (&actions);
            posix_spawnattr_destroy (&attributes);
            close (pipeEnds[1]);

            if (result != 0)
            {
                close (pipeEnds[0]);
                return false;
            }

            output = pipeEnds[0];
            fcntl (output, F_SETFL, fcntl (output, F_GETFL) | O_NONBLOCK);
            return true;
        }

        /** Reads what has come; a report larger than any real one is cut short
            (and then fails to parse) rather than held in full. */
        void readOutput()
        {
            char buffer[65536];

            for (;;)
            {
                const auto n = read (output, buffer, sizeof (buffer));

                if (n > 0)
                {
                    if (run.output.size() < maxReport)
                        run.output.append (buffer, (size_t) juce::jmin ((size_t) n, maxReport - run.output.size()));
                    continue;
                }

                if (n < 0 && errno == EINTR)
                    continue;

                return;   // nothing more for now, or the end
            }
        }

        void timerCallback() override
        {
            readOutput();

            int status = 0;
            const auto ended = waitpid (child, &status, WNOHANG);

            if (ended == 0 || (ended < 0 && errno == EINTR))
                return;

            readOutput();   // whatever it wrote before it ended
            stopTimer();
            close (output);
            output = -1;

            run.exited = ended < 0 || WIFEXITED (status);
            run.status = ended < 0 ? -1 : (WIFEXITED (status) ? WEXITSTATUS (status) : WTERMSIG (status));
            finish (Run::Start::started);
        }

        void finish (Run::Start how)
        {
            run.start = how;
            const auto outcome = interpret (request, command, run);

            // The deploy program writes its own lines; a run it never made, or
            // one that ended without a word, gets one of ours.
            const auto pkexecSaidNo = run.viaPkexec && run.exited && (run.status == 126 || run.status == 127);

            if (how != Run::Start::started || pkexecSaidNo || ! run.exited)
                RunLog::write (RunLog::Event::failed, juce::String (request.uninstall ? "Uninstall" : "Install") + " of "
                                                          + formatList (request.formats) + ": " + outcome.hint
                                                          + (pkexecSaidNo ? " (pkexec " + juce::String (run.status) + ")" : juce::String()));

            auto callback = std::move (done);
            done = nullptr;

            if (callback)
                callback (outcome);
        }

        static constexpr size_t maxReport = 1 << 20;

        const Command command;
        OperationRequest request;
        Done done;
        Run run;
        pid_t child = -1;
        int output = -1;
    };
}

std::unique_ptr<Operation> operation (Command command)
{
    return std::make_unique<DeployOperation> (std::move (command));
}
} // namespace DeployProgram
