#include "DeployRun.h"
#include "Deployment.h"
#include "StateFolder.h"

#include "support/PeFixture.h"
#include "support/TempFolder.h"
#include "support/ZipFixture.h"

#include <gtest/gtest.h>

namespace
{
using Deployment::Action;
using Deployment::BundleState;
using Result = Deployment::FormatReport::Result;

juce::MemoryBlock module (juce::uint16 major, juce::uint16 minor = 0)
{
    PeFixture pe;
    pe.fileVersion = { major, minor, 0, 0 };
    return pe.build();
}

// The product's own name: the deploy program's run looks for its bundles.
const juce::String name = Product::displayName();

/** Small bundles of our own of the given module version, in the payload form. */
struct Archives
{
    explicit Archives (juce::uint16 major = 1)
        : bytes { ZipFixture().directory (name + ".vst3\\Contents")
                      .file (name + ".vst3\\desktop.ini", "[.ShellClassInfo]\r\nIconFile=Plugin.ico\r\n")
                      .file (name + ".vst3\\Contents\\x86_64-win\\" + name + ".vst3", module (major)).build(),
                  ZipFixture().file (name + ".clap", module (major)).build(),
                  ZipFixture().directory (name + ".aaxplugin\\Contents")
                      .file (name + ".aaxplugin\\Contents\\x64\\" + name + ".aaxplugin", module (major)).build() }
    {
        for (size_t k = 0; k < bytes.size(); ++k)
            payloads[k] = { bytes[k].getData(), bytes[k].getSize() };
    }

    PerFormat<juce::MemoryBlock> bytes;
    PerFormat<PayloadArchive> payloads;
};

PerFormat<juce::File> foldersIn (const TempFolder& temp)
{
    return { temp["VST3"], temp["CLAP"], temp["AAX"] };
}

void installInto (const PerFormat<juce::File>& folders, const Archives& archives)
{
    PerFormat<bool> all { true, true, true };
    ASSERT_TRUE (processSelectedFormats (all, false, folders, name, archives.payloads));
}

/** A real run needs a state folder it can trust. On Windows a test's own
    temporary folder lies below the user's profile, which is not the
    administrators' alone: there the runs that lock cannot be shown. */
bool stateFolderUsable (const TempFolder& temp)
{
    return StateFolder::open (temp["state"]).isValid();
}

Deployment::Report runOver (Deployment::Request::Verb verb, const TempFolder& temp, const Archives& ours,
                            bool dryRun = false, bool allowDowngrade = false)
{
    Deployment::Request request;
    request.verb = verb;
    request.dryRun = dryRun;
    request.allowDowngrade = allowDowngrade;
    return Deployment::run (request, foldersIn (temp), name, temp["state"], ours.payloads);
}
} // namespace

//==============================================================================
TEST (Deployment, DecidesFromWhatIsThere)
{
    const BundleState absent, intact { true, "1.0.0.0", true }, damaged { true, "1.0.0.0", false },
                      older { true, "0.9.0.0", false }, newer { true, "2.0.0.0", false }, noVersion { true, "", false };

    struct Case
    {
        const char* what;
        bool uninstall;
        BundleState before;
        const char* ours;
        bool allowDowngrade;
        Action expected;
    };

    const Case cases[] = {
        { "install, absent",                    false, absent,    "1.0.0.0", false, Action::install },
        { "install, intact",                    false, intact,    "1.0.0.0", false, Action::none },
        { "install, ours damaged",              false, damaged,   "1.0.0.0", false, Action::repair },
        { "install, older",                     false, older,     "1.0.0.0", false, Action::update },
        { "install, newer",                     false, newer,     "1.0.0.0", false, Action::refused },
        { "install, newer, downgrade allowed",  false, newer,     "1.0.0.0", true,  Action::update },
        { "install, no version there",          false, noVersion, "1.0.0.0", false, Action::repair },
        { "install, we carry no version",       false, newer,     "",        false, Action::repair },
        { "uninstall, absent",                  true,  absent,    "1.0.0.0", false, Action::none },
        { "uninstall, newer",                   true,  newer,     "1.0.0.0", false, Action::uninstall },
    };

    for (const auto& c : cases)
        EXPECT_EQ (Deployment::decide (c.uninstall, c.before, c.ours, c.allowDowngrade), c.expected) << c.what;
}

TEST (Deployment, DetectWantsTheMinimumAndNoDamagedCopyOfOurs)
{
    struct Case
    {
        const char* what;
        BundleState state;
        const char* minimum;
        bool expected;
    };

    const Case cases[] = {
        { "not installed",                        {},                        "1.0",     false },
        { "ours, intact",                         { true, "1.0.0.0", true }, "1.0",     true },
        { "ours, intact, a higher minimum",       { true, "1.0.0.0", true }, "1.0.0.1", false },
        { "ours, intact, its module unversioned", { true, "", true },        "1.0",     true },
        { "ours, damaged",                        { true, "1.0.0.0", false },"1.0",     false },
        { "newer",                                { true, "2.0.0.0", false },"1.0",     true },
        { "older",                                { true, "0.9.0.0", false },"1.0",     false },
        { "older, a lower minimum",               { true, "0.9.0.0", false },"0.9",     true },
        { "no version",                           { true, "", false },       "0.0",     false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (Deployment::meetsMinimum (c.state, *Deployment::parseVersion (c.minimum), "1.0.0.0", "1.0.0"), c.expected)
            << c.what;

    EXPECT_FALSE (Deployment::parseVersion ("1.2.3.4.5").has_value());
    EXPECT_FALSE (Deployment::parseVersion ("65536").has_value());
    EXPECT_EQ (*Deployment::parseVersion ("1.2"), (Deployment::Version { 1, 2, 0, 0 }));
}

//==============================================================================
// Intact means the archive file for file: every change a user, a host or a
// broken disk can make to a bundle is seen, and the version is still read.
TEST (Deployment, InspectTellsIntactBundlesFromAlteredOnes)
{
    const Archives ours;

    struct Case
    {
        const char* what;
        int format;
        std::function<void (const juce::File& bundle)> alter;
        bool installed, intact;
        const char* version;
    };

    const Case cases[] = {
        { "as installed",                0, [] (const juce::File&) {},                                                        true, true, "1.0.0.0" },
        { "a byte changed, same size",   0, [] (const juce::File& b) { b.getChildFile ("desktop.ini").replaceWithText ("[.ShellClassInfo]\r\nIconFile=Plugin.icx\r\n"); }, true, false, "1.0.0.0" },
        { "a file cut short",            0, [] (const juce::File& b) { b.getChildFile ("desktop.ini").replaceWithText ("["); },   true, false, "1.0.0.0" },
        { "a file missing",              0, [] (const juce::File& b) { b.getChildFile ("desktop.ini").deleteFile(); },           true, false, "1.0.0.0" },
        { "an extra file",               0, [] (const juce::File& b) { b.getChildFile ("Contents/notes.txt").replaceWithText ("x"); }, true, false, "1.0.0.0" },
        { "an extra empty folder",       0, [] (const juce::File& b) { b.getChildFile ("Contents/Resources").createDirectory(); }, true, false, "1.0.0.0" },
        { "a folder where a file was",   0, [] (const juce::File& b) { b.getChildFile ("desktop.ini").deleteFile(); b.getChildFile ("desktop.ini").createDirectory(); }, true, false, "1.0.0.0" },
        { "the bundle gone",             0, [] (const juce::File& b) { b.deleteRecursively(); },                             false, false, "" },
        { "CLAP as installed",           1, [] (const juce::File&) {},                                                        true, true, "1.0.0.0" },
        { "CLAP a byte longer",          1, [] (const juce::File& b) { b.appendText ("x"); },                                true, false, "1.0.0.0" },
        { "CLAP a folder now",           1, [] (const juce::File& b) { b.deleteFile(); b.createDirectory(); },               true, false, "" },
        { "AAX module missing",          2, [] (const juce::File& b) { b.getChildFile ("Contents/x64/" + name + ".aaxplugin").deleteFile(); }, true, false, "" },
    };

    for (const auto& c : cases)
    {
        TempFolder temp;
        const auto folders = foldersIn (temp);
        installInto (folders, ours);

        const auto bundle = bundlePath (folders[(size_t) c.format], name, c.format);
        c.alter (bundle);
        const auto state = Deployment::inspectBundle (folders[(size_t) c.format], name, c.format,
                                                      ours.payloads[(size_t) c.format]);

        EXPECT_EQ (state.installed, c.installed) << c.what;
        EXPECT_EQ (state.intact, c.intact) << c.what;
        EXPECT_EQ (state.version, c.version) << c.what;
    }

    for (int k = 0; k < numFormats; ++k)
        EXPECT_EQ (Deployment::payloadVersion (ours.payloads[(size_t) k], name, k), "1.0.0.0") << k;
}

//==============================================================================
// A whole run: what it decides and does, a second run that changes nothing,
// a newer copy refused, and a format another run holds left alone as busy.
TEST (Deployment, RunsActOnlyWhereSomethingIsToDo)
{
    TempFolder temp;
    const Archives ours, newer (2);
    using Verb = Deployment::Request::Verb;

   #if JUCE_WINDOWS
    if (! stateFolderUsable (temp))
        GTEST_SKIP() << "the temporary folder is below the user's profile: no state folder can be trusted there";
   #else
    ASSERT_TRUE (stateFolderUsable (temp));
   #endif

    auto first = runOver (Verb::install, temp, ours);
    EXPECT_TRUE (first.changed());

    for (const auto& f : first.formats)
    {
        EXPECT_EQ (f.action, Action::install);
        EXPECT_EQ (f.result, Result::success);
        EXPECT_EQ (f.after, (BundleState { true, "1.0.0.0", true }));
    }

    const auto second = runOver (Verb::install, temp, ours);
    EXPECT_FALSE (second.changed());

    for (const auto& f : second.formats)
        EXPECT_EQ (f.action, Action::none);

    // A newer CLAP is refused, and only replaced when a downgrade is allowed.
    PerFormat<bool> clapOnly { false, true, false };
    ASSERT_TRUE (processSelectedFormats (clapOnly, false, foldersIn (temp), name, newer.payloads));
    EXPECT_EQ (runOver (Verb::install, temp, ours).formats[1].action, Action::refused);
    EXPECT_EQ (runOver (Verb::install, temp, ours, true, true).formats[1].after, (BundleState { true, "1.0.0.0", true }));
    EXPECT_EQ (Deployment::inspectBundle (temp["CLAP"], name, 1, ours.payloads[1]).version, "2.0.0.0");

    const auto downgrade = runOver (Verb::install, temp, ours, false, true);
    EXPECT_EQ (downgrade.formats[1].action, Action::update);
    EXPECT_EQ (downgrade.formats[1].after, (BundleState { true, "1.0.0.0", true }));

    // Another run holds AAX: it is busy and untouched, the others are uninstalled.
    const auto state = StateFolder::open (temp["state"]);
    ASSERT_TRUE (state);
    auto lock = FileOps::Lock::failed;
    const auto held = StateFolder::lockBundle (state, name + ".aaxplugin", lock);
    ASSERT_EQ (lock, FileOps::Lock::taken);

    const auto busy = runOver (Verb::uninstall, temp, ours);
    EXPECT_EQ (busy.formats[2].result, Result::busy);
    EXPECT_EQ (busy.formats[2].action, Action::none);
    EXPECT_TRUE (isBundlePresent (temp["AAX"], name, 2));
    EXPECT_EQ (busy.formats[0].action, Action::uninstall);
    EXPECT_FALSE (isBundlePresent (temp["VST3"], name, 0));
}

TEST (DeployRun, ExitCodesOfThisPlatform)
{
    using O = DeployRun::Outcome;
   #if JUCE_WINDOWS
    const std::pair<O, int> expected[] = { { O::success, 0 }, { O::failure, 1603 }, { O::busy, 1618 },
                                           { O::refused, 1638 }, { O::notPrivileged, 1603 } };
    EXPECT_EQ (DeployRun::exitCodeFor (O::success, true), 3010);
    EXPECT_EQ (DeployRun::usageExitCode(), 1639);
   #else
    const std::pair<O, int> expected[] = { { O::success, 0 }, { O::failure, 1 }, { O::busy, 3 },
                                           { O::refused, 4 }, { O::notPrivileged, 5 } };
    EXPECT_EQ (DeployRun::exitCodeFor (O::success, true), 0);
    EXPECT_EQ (DeployRun::usageExitCode(), 2);
   #endif

    for (const auto& [outcome, code] : expected)
        EXPECT_EQ (DeployRun::exitCodeFor (outcome, false), code) << DeployRun::resultName (outcome);
}

// The program's run over temporary machine folders: its JSON carries the exit
// code it returns, and a caller without the rights changes nothing.
TEST (DeployRun, ReportsWhatItDidAndRefusesWithoutTheRights)
{
    TempFolder temp;
    const Archives ours;

   #if JUCE_WINDOWS
    if (! stateFolderUsable (temp))
        GTEST_SKIP() << "the temporary folder is below the user's profile: no state folder can be trusted there";
   #endif

    CommandLine::Command install;
    install.verb = CommandLine::Verb::install;
    install.json = true;

    const auto refused = DeployRun::run (install, temp.systemPaths(), false, ours.payloads);
    EXPECT_EQ (refused.exitCode, DeployRun::exitCodeFor (DeployRun::Outcome::notPrivileged, false));
    EXPECT_TRUE (juce::String (refused.out).contains ("\"result\": \"not-root\""));
    EXPECT_FALSE (refused.err.empty());

    const auto folders = defaultFormatFolders (temp.systemPaths().defaultFolderBase);

    for (int k = 0; k < numFormats; ++k)
        EXPECT_FALSE (isBundlePresent (folders[(size_t) k], name, k));

    const auto done = DeployRun::run (install, temp.systemPaths(), true, ours.payloads);
    const auto json = juce::JSON::parse (juce::String (done.out));
    EXPECT_EQ (done.exitCode, 0) << done.err;
    EXPECT_EQ ((int) json["exitCode"], done.exitCode);
    EXPECT_TRUE ((bool) json["changed"]);
    EXPECT_EQ (json["formats"].size(), 3);
    EXPECT_EQ (json["formats"][1]["action"].toString(), "install");
    EXPECT_EQ (json["formats"][1]["after"]["version"].toString(), "1.0.0.0");

    for (int k = 0; k < numFormats; ++k)
        EXPECT_TRUE (isBundlePresent (folders[(size_t) k], name, k));
}
