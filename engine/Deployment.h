#pragma once

#include "Installer.h"

#include <array>
#include <optional>

/** What an unattended run needs to know of each format, and does about it:
    the bundle's state before and after, the decision, and the outcome. Install
    and uninstall themselves are processSelectedFormats; nothing here writes. */
namespace Deployment
{
//==============================================================================
/** A version as four numbers; missing parts of a shorter text are 0. */
using Version = std::array<juce::uint32, 4>;

/** "1.2" -> 1.2.0.0; nothing unless the text is one to four decimal numbers of
    at most 65535 joined by single dots. */
std::optional<Version> parseVersion (const juce::String& text);

//==============================================================================
/** A format's bundle as it is on the disk. */
struct BundleState
{
    bool installed = false;     ///< something is at the bundle path
    juce::String version;       ///< the module's file version "a.b.c.d", or empty
    bool intact = false;        ///< exactly the archive: every entry with its size and CRC-32, nothing more

    bool operator== (const BundleState& o) const { return installed == o.installed && version == o.version && intact == o.intact; }
    bool operator!= (const BundleState& o) const { return ! operator== (o); }
};

/** Looks at format k's bundle below folder, through opened handles, never
    through a link, reading no more than the archive's own entries' sizes. */
BundleState inspectBundle (const juce::File& folder, const juce::String& productName, int k,
                           const PayloadArchive& payload);

/** The file version of the module the archive carries (the CLAP file, or the
    module inside a folder bundle), or empty. Inflates that one entry. */
juce::String payloadVersion (const PayloadArchive& payload, const juce::String& productName, int k);

//==============================================================================
enum class Action { none, install, update, repair, uninstall, refused };

const char* actionName (Action);

/** What a run does with one format, from what is there and what we carry. */
Action decide (bool uninstall, const BundleState& before, const juce::String& ourVersion, bool allowDowngrade);

/** Installed at minimum or later. An intact bundle is ours, of our version
    (productVersion when its module carries none); any other needs a version
    that can be read and is not ourVersion (a damaged copy of ours is not
    installed). */
bool meetsMinimum (const BundleState& state, const Version& minimum, const juce::String& ourVersion,
                   const juce::String& productVersion);

//==============================================================================
struct Request
{
    enum class Verb { status, detect, install, uninstall };

    Verb verb = Verb::status;
    PerFormat<bool> selected { true, true, true };
    bool dryRun = false;
    bool allowDowngrade = false;
};

/** One format's part of a run. */
struct FormatReport
{
    enum class Result { success, failure, busy };

    bool selected = false;
    juce::File folder;
    BundleState before, after;          ///< with a dry run, after is the prediction
    Action action = Action::none;
    Result result = Result::success;
    RunLog::Failure failure;            ///< noted when something failed (or a file was held)
    juce::String ourVersion;            ///< the module version this run carries, when it was needed
};

struct Report
{
    PerFormat<FormatReport> formats;
    bool restartNeeded = false;

    /** Something changed on the disk (with a dry run: would change). */
    bool changed() const;
};

/** Runs the request over the selected formats. A real install or uninstall
    takes each format's lock in the state folder for the whole run (check,
    decide, act) and puts back a bundle that a killed run set aside first; a
    format whose lock another run holds is busy and left alone. Status and dry
    runs only look, and take no lock. */
Report run (const Request& request, const PerFormat<juce::File>& folders, const juce::String& productName,
            const juce::File& stateFolder, const PerFormat<PayloadArchive>& payloads = embeddedPayloads());
} // namespace Deployment
