#include "RunLog.h"

namespace RunLog
{
namespace
{
    SystemCall& systemCall()
    {
        static SystemCall call;
        return call;
    }

    Failure*& currentFailure()
    {
        static Failure* current = nullptr;
        return current;
    }

    juce::String& programTag()
    {
        static juce::String tag;
        return tag;
    }

    /** Paths and texts in a line: control characters (a name may hold a line
        feed), C1 ones included, shown as \xNN and the Unicode line and
        paragraph separators as \uNNNN, so one line stays one line. */
    juce::String printable (const juce::String& text)
    {
        juce::String result;
        result.preallocateBytes (text.getNumBytesAsUTF8());

        for (auto p = text.getCharPointer(); ! p.isEmpty();)
        {
            const auto c = p.getAndAdvance();

            if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
                result << "\\x" << juce::String::toHexString ((int) c).paddedLeft ('0', 2);
            else if (c == 0x2028 || c == 0x2029)
                result << "\\u" << juce::String::toHexString ((int) c);
            else
                result << juce::String::charToString (c);
        }

        return result;
    }

    juce::String folderText (const juce::File& folder)
    {
        return folder == juce::File() ? juce::String ("(none)") : printable (folder.getFullPathName());
    }
}

const char* stepName (Step step)
{
    switch (step)
    {
        case Step::openTarget:  return "open target";
        case Step::stage:       return "stage";
        case Step::verify:      return "verify";
        case Step::swap:        return "swap";
        case Step::remove:      return "delete";
        case Step::sync:        return "sync";
        case Step::lock:        return "lock";
    }

    return "?";
}

void setProgram (const juce::String& programName)
{
    programTag() = programName.isEmpty() ? juce::String() : programName + ": ";
}

void setSystemCall (SystemCall call)
{
    systemCall() = std::move (call);
}

void write (Event event, const juce::String& line)
{
    const auto error = lastSystemError();
    const auto tagged = programTag() + line;

    if (const auto& call = systemCall())
        call (event, tagged);
    else
        writeToSystem (event, tagged);

    restoreLastSystemError (error);
}

//==============================================================================
FailureScope::FailureScope (Failure& into) noexcept
    : previous (std::exchange (currentFailure(), &into))
{
}

FailureScope::~FailureScope()
{
    currentFailure() = previous;
}

void noteFailure (Step step, const juce::String& pathBelowTarget)
{
    noteFailure (step, pathBelowTarget, lastSystemError());
}

void noteFailure (Step step, const juce::String& pathBelowTarget, int systemErrorCode)
{
    auto* failure = currentFailure();

    if (failure == nullptr || failure->noted)
        return;

    failure->noted = true;
    failure->step = step;
    // Archive entries name their path with either separator; the log uses the system's.
    failure->pathBelowTarget = pathBelowTarget.replaceCharacter (juce::File::getSeparatorChar() == '/' ? '\\' : '/',
                                                                 juce::File::getSeparatorChar());
    failure->systemError = systemErrorCode != 0 ? systemErrorText (systemErrorCode) : juce::String();
    failure->systemErrorCode = systemErrorCode;
}

void noteRefusal (Step step, const juce::String& pathBelowTarget, const juce::String& reason)
{
    auto* failure = currentFailure();

    if (failure == nullptr || failure->noted)
        return;

    noteFailure (step, pathBelowTarget, 0);
    failure->systemError = reason;
}

void noteCause (Cause cause)
{
    if (auto* failure = currentFailure(); failure != nullptr && failure->cause == Cause::none)
        failure->cause = cause;
}

void note (const juce::String& text)
{
    if (auto* failure = currentFailure())
        failure->notes.addIfNotAlreadyThere (text);
}

juce::String causeText (Cause cause, const juce::String& bundleFileName)
{
    switch (cause)
    {
        case Cause::inUse:          return "a file in " + bundleFileName + " is in use: close the host, then run again";
        case Cause::restartNeeded:  return "what could not be deleted yet goes at the next restart";
        case Cause::none:           break;
    }

    return {};
}

//==============================================================================
void started (const juce::String& productName, const juce::String& productVersion,
              const PerFormat<juce::File>& folders, const FolderSource& source)
{
    juce::String line;
    line << "Oakhaze Plugin Manager " << Manager::version << " started by " << startedBy()
         << " for " << productName << ' ' << productVersion << ":";

    for (int k = 0; k < numFormats; ++k)
        line << (k == 0 ? " " : ", ") << formatNames[k] << ' ' << folderText (folders[(size_t) k]);

    const auto file = folderText (source.settingsFile);

    if (source.fromSettingsFile)
        line << " (from the settings file " << file << ")";
    else if (source.ignoredBecause.isNotEmpty())
        line << " (defaults; settings file " << file << " ignored: " << printable (source.ignoredBecause) << ")";
    else
        line << " (defaults)";

    write (Event::started, line);
}

void formatProcessed (int format, bool uninstall, const juce::File& folder, bool succeeded, const Failure& failure)
{
    juce::String line;
    line << formatNames[format] << (uninstall ? " uninstall from " : " install into ") << folderText (folder)
         << (succeeded ? ": succeeded" : ": failed");

    if (! succeeded && failure.noted)
    {
        line << " at " << stepName (failure.step) << ", "
             << (failure.pathBelowTarget.isEmpty() ? juce::String ("the folder itself") : printable (failure.pathBelowTarget));

        if (failure.systemError.isNotEmpty())
            line << ": " << printable (failure.systemError);
    }

    // Named after the bundle, the first part of the path: the user acts on it, not on one file.
    const auto bundle = failure.pathBelowTarget.upToFirstOccurrenceOf (juce::File::getSeparatorString(), false, false);

    if (failure.cause != Cause::none && (! succeeded || failure.cause == Cause::restartNeeded))
        line << "; " << printable (causeText (failure.cause, bundle.isNotEmpty() ? bundle : juce::String ("the bundle")));

    for (const auto& text : failure.notes)
        line << "; " << printable (text);

    write (succeeded ? Event::succeeded : Event::failed, line);
}

void formatLeftAlone (int format, bool uninstall, const juce::File& folder, const juce::String& why, bool asError)
{
    juce::String line;
    line << formatNames[format] << (uninstall ? " uninstall from " : " install into ") << folderText (folder)
         << ": " << printable (why);

    write (asError ? Event::failed : Event::succeeded, line);
}
} // namespace RunLog
