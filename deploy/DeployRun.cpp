#include "DeployRun.h"

#include "Deployment.h"
#include "RunLog.h"
#include "Settings.h"

namespace DeployRun
{
namespace
{
using Deployment::Action;
using Deployment::BundleState;
using Deployment::FormatReport;

#if JUCE_WINDOWS
constexpr const char* notPrivilegedText =
    "oh_deploy: %s changes the machine's plug-in folders and needs an elevated administrator: "
    "run it from an elevated prompt, or as SYSTEM (Intune, Configuration Manager); nothing was changed\n";
#else
constexpr const char* notPrivilegedText =
    "oh_deploy: %s changes the machine's plug-in folders and needs root: run it as root, "
    "with sudo or with pkexec; nothing was changed\n";
#endif

//==============================================================================
/** Text from the disk or the settings file, one line of it: control
    characters as \xNN. */
std::string printable (const juce::String& text)
{
    std::string result;

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        if (c < 0x20 || c == 0x7f)
            result += "\\x" + juce::String::toHexString ((int) c).paddedLeft ('0', 2).toStdString();
        else
            result += juce::String::charToString (c).toStdString();
    }

    return result;
}

/** A JSON string as RFC 8259 has it (the framework's writer would give "\a"). */
std::string jsonString (const juce::String& text)
{
    std::string result = "\"";

    for (auto p = text.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();

        switch (c)
        {
            case '"':   result += "\\\""; break;
            case '\\':  result += "\\\\"; break;
            case '\n':  result += "\\n"; break;
            case '\r':  result += "\\r"; break;
            case '\t':  result += "\\t"; break;
            default:
                if (c < 0x20)
                    result += "\\u00" + juce::String::toHexString ((int) c).paddedLeft ('0', 2).toStdString();
                else
                    result += juce::String::charToString (c).toStdString();
        }
    }

    return result + "\"";
}

std::string jsonBool (bool value)   { return value ? "true" : "false"; }

std::string jsonState (const BundleState& state)
{
    return "{\"installed\": " + jsonBool (state.installed)
         + ", \"version\": " + (state.version.isEmpty() ? std::string ("null") : jsonString (state.version))
         + ", \"intact\": " + jsonBool (state.intact) + "}";
}

const char* formatResultName (FormatReport::Result result)
{
    switch (result)
    {
        case FormatReport::Result::success:  return "success";
        case FormatReport::Result::failure:  return "failure";
        case FormatReport::Result::busy:     return "busy";
    }

    return "failure";
}

std::string folderText (const juce::File& folder)
{
    return folder == juce::File() ? std::string ("(no folder)") : printable (folder.getFullPathName());
}

//==============================================================================
std::string describe (const BundleState& state)
{
    if (! state.installed)
        return "not installed";

    return "installed" + (state.version.isEmpty() ? std::string (", no version") : " " + state.version.toStdString())
         + (state.intact ? ", intact" : ", not intact");
}

std::string failureText (const RunLog::Failure& failure)
{
    std::string text = std::string ("at ") + RunLog::stepName (failure.step);

    // A lock lies in the state folder, not below the format's folder.
    if (failure.step != RunLog::Step::lock)
        text += ", " + (failure.pathBelowTarget.isEmpty() ? std::string ("the folder itself") : printable (failure.pathBelowTarget));

    if (failure.systemError.isNotEmpty())
        text += ": " + printable (failure.systemError);

    return text;
}

/** One format's line of the text report. */
std::string formatLine (const FormatReport& f, CommandLine::Verb verb, bool dryRun)
{
    if (f.result == FormatReport::Result::failure)
        return "failed " + failureText (f.failure) + "; " + describe (f.after);

    if (f.result == FormatReport::Result::busy)
        return f.failure.noted ? "busy, a program holds a file of it (" + failureText (f.failure) + "); close it and run again"
                               : "busy, another run works on it; run again later";

    if (verb == CommandLine::Verb::status || verb == CommandLine::Verb::detect)
        return describe (f.before);

    const auto ours = f.ourVersion.isEmpty() ? std::string() : " " + f.ourVersion.toStdString();
    const std::string would = dryRun ? "would " : "";

    switch (f.action)
    {
        case Action::none:       return "nothing to do, " + describe (f.before);
        case Action::install:    return dryRun ? "would install" + ours : "installed" + (f.after.version.isEmpty() ? std::string() : " " + f.after.version.toStdString());
        case Action::update:     return (dryRun ? "would update " : "updated from ") + f.before.version.toStdString() + " to "
                                      + (dryRun ? f.ourVersion : f.after.version).toStdString();
        case Action::repair:     return dryRun ? "would repair (" + describe (f.before) + ")" : "repaired (was " + describe (f.before) + ")";
        case Action::uninstall:  return dryRun ? "would uninstall (" + describe (f.before) + ")" : "uninstalled (was " + describe (f.before) + ")";
        case Action::refused:    return "refused: " + f.before.version.toStdString() + " there is newer than" + ours
                                      + "; --allow-downgrade replaces it";
    }

    return {};
}

const char* verbName (CommandLine::Verb verb)
{
    switch (verb)
    {
        case CommandLine::Verb::status:     return "status";
        case CommandLine::Verb::install:    return "install";
        case CommandLine::Verb::uninstall:  return "uninstall";
        case CommandLine::Verb::detect:     return "detect";
        case CommandLine::Verb::help:
        case CommandLine::Verb::version:    break;
    }

    return "";
}

/** The head of every JSON report, up to and without "formats". */
std::string jsonHead (const CommandLine::Command& command, Outcome outcome, int exitCode, bool changed, bool restartNeeded)
{
    std::string json = "{\n";
    json += "  \"program\": \"oh_deploy\",\n";
    json += "  \"managerVersion\": " + jsonString (Manager::version) + ",\n";
    json += "  \"product\": {\"name\": " + jsonString (Product::displayName()) + ", \"version\": " + jsonString (Product::version) + "},\n";
    json += "  \"command\": \"" + std::string (verbName (command.verb)) + "\",\n";
    json += "  \"dryRun\": " + jsonBool (command.dryRun) + ",\n";
    json += "  \"result\": \"" + std::string (resultName (outcome)) + "\",\n";
    json += "  \"exitCode\": " + std::to_string (exitCode) + ",\n";
    json += "  \"changed\": " + jsonBool (changed) + ",\n";
    json += "  \"restartNeeded\": " + jsonBool (restartNeeded) + ",\n";
    return json;
}

std::string jsonFormat (int k, const FormatReport& f)
{
    auto json = "    {\"format\": " + jsonString (formatNames[k])
              + ", \"folder\": " + (f.folder == juce::File() ? std::string ("null") : jsonString (f.folder.getFullPathName()))
              + ",\n     \"before\": " + jsonState (f.before)
              + ",\n     \"after\": " + jsonState (f.after)
              + ",\n     \"action\": \"" + Deployment::actionName (f.action) + "\", \"result\": \"" + formatResultName (f.result) + "\"";

    if (f.failure.noted && f.result != FormatReport::Result::success)
        json += ",\n     \"failure\": {\"step\": \"" + std::string (RunLog::stepName (f.failure.step))
              + "\", \"path\": " + jsonString (f.failure.pathBelowTarget)
              + ", \"reason\": " + jsonString (f.failure.systemError) + "}";

    return json + "}";
}

Outcome worstOf (const Deployment::Report& report)
{
    auto outcome = Outcome::success;

    for (const auto& f : report.formats)
    {
        if (! f.selected)
            continue;

        const auto own = f.result == FormatReport::Result::failure ? Outcome::failure
                       : f.result == FormatReport::Result::busy    ? Outcome::busy
                       : f.action == Action::refused               ? Outcome::refused
                                                                   : Outcome::success;
        outcome = juce::jmin (outcome, own);
    }

    return outcome;
}
} // namespace

//==============================================================================
int exitCodeFor (Outcome outcome, bool restartNeeded)
{
    switch (outcome)
    {
       #if JUCE_WINDOWS
        case Outcome::success:        return restartNeeded ? 3010 : 0;
        case Outcome::failure:        return 1603;
        case Outcome::busy:           return 1618;
        case Outcome::refused:        return 1638;
        case Outcome::notPrivileged:  return 1603;
       #else
        case Outcome::success:        juce::ignoreUnused (restartNeeded); return 0;
        case Outcome::failure:        return 1;
        case Outcome::busy:           return 3;
        case Outcome::refused:        return 4;
        case Outcome::notPrivileged:  return 5;
       #endif
    }

    return exitCodeFor (Outcome::failure, false);
}

int usageExitCode()
{
   #if JUCE_WINDOWS
    return 1639;
   #else
    return 2;
   #endif
}

const char* resultName (Outcome outcome)
{
    switch (outcome)
    {
        case Outcome::success:        return "success";
        case Outcome::failure:        return "failure";
        case Outcome::busy:           return "busy";
        case Outcome::refused:        return "refused";
        case Outcome::notPrivileged:  return "not-root";
    }

    return "failure";
}

//==============================================================================
Output run (const CommandLine::Command& command, const SystemPaths& paths, bool privileged,
            const PerFormat<PayloadArchive>& payloads)
{
    using CommandLine::Verb;
    Output output;

    const bool changing = (command.verb == Verb::install || command.verb == Verb::uninstall) && ! command.dryRun;

    if (changing && ! privileged)
    {
        output.exitCode = exitCodeFor (Outcome::notPrivileged, false);
        char message[512];
        std::snprintf (message, sizeof (message), notPrivilegedText, verbName (command.verb));
        output.err = message;

        if (command.json)
            output.out = jsonHead (command, Outcome::notPrivileged, output.exitCode, false, false) + "  \"formats\": []\n}\n";

        return output;
    }

    const auto productName = Product::displayName();

    // The folders as the window finds them; a run that only looks makes nothing.
    const auto settings = resolveSettings (paths.commonAppDataFolder, defaultFormatFolders (paths.defaultFolderBase), changing);

    if (changing)
        RunLog::started (productName, Product::version, settings.formatFolders,
                         { settings.fromSettingsFile, settings.settingsFile, settings.ignoredBecause });

    Deployment::Request request;
    request.verb = command.verb == Verb::install   ? Deployment::Request::Verb::install
                 : command.verb == Verb::uninstall ? Deployment::Request::Verb::uninstall
                 : command.verb == Verb::detect    ? Deployment::Request::Verb::detect
                                                   : Deployment::Request::Verb::status;
    request.selected = { command.formats[0], command.formats[1], command.formats[2] };
    request.dryRun = command.dryRun;
    request.allowDowngrade = command.allowDowngrade;

    const auto report = Deployment::run (request, settings.formatFolders, productName, paths.stateFolder, payloads);

    //==============================================================================
    if (command.verb == Verb::detect)
    {
        const auto minimumText = command.minVersion.empty() ? juce::String (Product::version) : juce::String (command.minVersion);
        const auto minimum = Deployment::parseVersion (minimumText).value_or (Deployment::Version {});
        bool detected = true;
        std::string installed;

        for (int k = 0; k < numFormats; ++k)
        {
            const auto& f = report.formats[(size_t) k];

            if (! f.selected)
                continue;

            detected = detected && Deployment::meetsMinimum (f.before, minimum, f.ourVersion, Product::version);
            installed += (installed.empty() ? "" : ", ") + formatNames[k].toStdString() + " "
                       + (f.before.version.isNotEmpty() ? f.before.version : juce::String (Product::version)).toStdString();
        }

        output.exitCode = detected ? 0 : 1;

        if (command.json)
        {
            auto json = jsonHead (command, detected ? Outcome::success : Outcome::failure, output.exitCode, false, false);
            json += "  \"minVersion\": " + jsonString (minimumText) + ",\n";
            json += "  \"detected\": " + jsonBool (detected) + ",\n";
            json += "  \"formats\": [";

            for (int k = 0, n = 0; k < numFormats; ++k)
                if (report.formats[(size_t) k].selected)
                    json += (n++ == 0 ? "\n" : ",\n") + jsonFormat (k, report.formats[(size_t) k]);

            output.out = json + "\n  ]\n}\n";
        }
        else if (detected)
        {
            // The one line script detection rules look for; nothing when not detected.
            output.out = productName.toStdString() + " " + minimumText.toStdString() + " or later installed: " + installed + "\n";
        }

        return output;
    }

    const auto outcome = worstOf (report);
    output.exitCode = exitCodeFor (outcome, report.restartNeeded);
    const bool changed = report.changed();

    if (command.json)
    {
        auto json = jsonHead (command, outcome, output.exitCode, changed, report.restartNeeded) + "  \"formats\": [";

        for (int k = 0, n = 0; k < numFormats; ++k)
            if (report.formats[(size_t) k].selected)
                json += (n++ == 0 ? "\n" : ",\n") + jsonFormat (k, report.formats[(size_t) k]);

        output.out = json + "\n  ]\n}\n";
        return output;
    }

    std::string text = productName.toStdString() + " " + Product::version + (command.dryRun ? ", dry run: nothing is changed\n" : "\n");

    for (int k = 0; k < numFormats; ++k)
    {
        const auto& f = report.formats[(size_t) k];

        if (f.selected)
            text += formatNames[k].paddedRight (' ', 5).toStdString() + folderText (f.folder) + ": "
                  + formatLine (f, command.verb, command.dryRun) + "\n";
    }

    if (command.verb != Verb::status)
    {
        text += std::string ("Result: ") + resultName (outcome)
              + (command.dryRun ? (changed ? ", would change the disk" : ", would change nothing")
                                : (changed ? ", changed the disk" : ", nothing changed"))
              + (report.restartNeeded ? "; a restart finishes it" : "") + "\n";
    }

    output.out = text;
    return output;
}

//==============================================================================
std::string helpText()
{
    const auto name = Product::displayName().toStdString();
    std::string text;
    text += "Usage: oh_deploy <command> [options]\n";
    text += "       oh_deploy --help | --version\n\n";
    text += "Installs, updates, repairs and removes " + name + " " + Product::version
          + " in the machine's VST3, CLAP and AAX folders, without a window.\n\n";
    text += "Commands:\n";
    text += "  status             what is in each format's folder: installed, version, intact\n";
    text += "  install            installs what is missing, updates older versions and repairs\n";
    text += "                     altered bundles; leaves intact ones alone and refuses to\n";
    text += "                     replace a newer version\n";
    text += "  uninstall          removes the bundles\n";
    text += "  detect             prints one line and exits 0 when every selected format is\n";
    text += "                     installed at --min-version or later; else prints nothing\n";
    text += "                     and exits 1\n\n";
    text += "Options (each at most once):\n";
    text += "  --formats LIST     comma-separated from vst3, clap, aax (default: all three)\n";
    text += "  --dry-run          install, uninstall: say what would change, change nothing\n";
    text += "  --json             one JSON object on standard output instead of the text\n";
    text += "  --allow-downgrade  install: replace a newer version\n";
    text += "  --min-version X    detect: the version needed (default " + std::string (Product::version) + ")\n\n";
    text += "The folders come from the settings file " + folderText (SystemPaths::fromSystem().commonAppDataFolder
                                                                     .getChildFile ("Oakhaze/PluginManagerSettings.txt"))
          + " when the administrators alone can change it, else the defaults; no option names a folder.\n";
   #if JUCE_WINDOWS
    text += "install and uninstall need an elevated administrator; status, detect and --dry-run do not.\n\n";
    text += "Exit codes: 0 success, 3010 success (a restart finishes it), 1603 failure (also\n";
    text += "not elevated), 1618 busy (another run, or a program holds a file: try again\n";
    text += "later), 1638 a newer version is installed, 1639 bad command line; detect: 0 or 1.\n";
   #else
    text += "install and uninstall need root; status, detect and --dry-run do not.\n\n";
    text += "Exit codes: 0 success, 1 failure, 2 bad command line, 3 busy (another run works\n";
    text += "on a format: try again later), 4 a newer version is installed, 5 not root;\n";
    text += "detect: 0 or 1.\n";
   #endif
    return text;
}

std::string versionText()
{
    return std::string ("oh_deploy (Oakhaze Plugin Manager) ") + Manager::version + "\n"
         + Product::displayName().toStdString() + " " + Product::version + "\n";
}
} // namespace DeployRun
