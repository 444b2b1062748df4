#pragma once

#include "Catalogue.h"

#include <functional>

/** The record every run leaves in the system's own log, for whoever supports
    the machine: on Linux syslog with the ident "oh_installer" (the journal
    where it runs), on Windows the Application event log under a source of our
    own. One line at start, one per format processed, a failure's step, path
    and system error in its format's line; nothing else. A line that cannot be
    written is dropped: no result ever depends on the log. */
namespace RunLog
{
/** The kind of a line; it picks the syslog priority or the event type and id. */
enum class Event
{
    started = 1,     ///< information
    succeeded = 2,   ///< information
    failed = 3       ///< error
};

/** The one call into the system's log. Tests replace it to see what the
    system would receive; an empty function puts the system's own back. */
using SystemCall = std::function<void (Event, const juce::String& line)>;
void setSystemCall (SystemCall);

/** Writes one line. Keeps the system's last error as it was. */
void write (Event, const juce::String& line);

/** Names the program in every line it writes ("oh_deploy: ..."), for a program
    other than the window, whose lines stay as they always were. */
void setProgram (const juce::String& programName);

//==============================================================================
/** Where in one format's run a failure happened. */
enum class Step { openTarget, stage, verify, swap, remove, sync, lock };

/** The step as the log and the deploy program's reports name it. */
const char* stepName (Step);

/** Why a format's run could not finish now, where the system told it. */
enum class Cause
{
    none,
    inUse,          ///< another program holds a file of the bundle open (a host, Explorer, a scanner)
    restartNeeded   ///< what could not go yet is removed at the next restart
};

/** The first failure of one format's run. */
struct Failure
{
    bool noted = false;
    Step step = Step::stage;
    juce::String pathBelowTarget;   ///< empty: the target folder itself
    juce::String systemError;       ///< the system's own text, empty when there was none
    int systemErrorCode = 0;        ///< the system's own code (errno, a Windows error), 0 when there was none
    Cause cause = Cause::none;      ///< the first cause noted, whatever the step
    juce::StringArray notes;        ///< what the run left alone and why, said even when it succeeded
};

/** While it lives, noteFailure records into this format's failure. */
class FailureScope
{
public:
    explicit FailureScope (Failure& into) noexcept;
    ~FailureScope();

    FailureScope (const FailureScope&) = delete;
    FailureScope& operator= (const FailureScope&) = delete;

private:
    Failure* previous;
};

/** Notes a failure with the system's error of the call that just failed. Only
    the first one of a format counts; outside a scope it is dropped. */
void noteFailure (Step, const juce::String& pathBelowTarget);

/** The same with an error code of the system's own (errno, or a Windows error). */
void noteFailure (Step, const juce::String& pathBelowTarget, int systemErrorCode);

/** Notes a failure whose reason is ours, not a system error: a refusal. */
void noteRefusal (Step, const juce::String& pathBelowTarget, const juce::String& reason);

/** Notes why the current format cannot finish now; only the first cause counts. */
void noteCause (Cause);

/** Notes something the current format's run left alone, for its line. */
void note (const juce::String& text);

/** What the user is told to do about a cause, naming the bundle; empty for none. */
juce::String causeText (Cause, const juce::String& bundleFileName);

/** The system's text for an error code. */
juce::String systemErrorText (int code);

//==============================================================================
/** How the target folders were found, for the start line. */
struct FolderSource
{
    bool fromSettingsFile = false;
    juce::File settingsFile;
    juce::String ignoredBecause;    ///< why the file's folders are not in force; empty when they are or there is none
};

/** The start line: who started us, the product, the three folders and where they came from. */
void started (const juce::String& productName, const juce::String& productVersion,
              const PerFormat<juce::File>& folders, const FolderSource& source);

/** One format's line: install or uninstall, the folder, the result and, for a failure, what failed. */
void formatProcessed (int format, bool uninstall, const juce::File& folder, bool succeeded, const Failure& failure);

/** The line of a format a run left as it was, and why: nothing to do (an
    information), or refused or busy (an error). */
void formatLeftAlone (int format, bool uninstall, const juce::File& folder, const juce::String& why, bool asError);

//==============================================================================
// One of each per platform.

/** Who started this run, as the log may say it: uids, no names. */
juce::String startedBy();

/** The system's own writer. */
void writeToSystem (Event, const juce::String& line);

/** The last error of the calling thread (errno, GetLastError). */
int lastSystemError();
void restoreLastSystemError (int code);
} // namespace RunLog
