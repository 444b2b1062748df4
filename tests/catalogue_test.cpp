#include "Catalogue.h"
#include "MainComponent.h"
#include "support/DemoFacts.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

TEST (Catalogue, NamesBeyondTheOfferedFormatsCommandNothing)
{
    // A click dispatched under the unoffered names (or near-misses of the
    // offered ones) must neither select a format nor touch the disk.
    TempFolder temp;
    MainComponent main (temp.systemPaths());
    main.openLink = [] (const juce::URL&) { ADD_FAILURE() << "no link is opened"; return LinkOpening::failed; };

    for (auto* name : { "AudioUnit V2", "AudioUnit V3", "LV2", "vst3", "VST3 ", "SETTINGS", "" })
    {
        SCOPED_TRACE (name);
        juce::TextButton stranger;
        stranger.setName (name);
        main.buttonClicked (&stranger);

        EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { false, false, false }));
        EXPECT_EQ (main.getResultPanel(), nullptr);
        EXPECT_EQ (main.getEulaPanel(), nullptr);
        EXPECT_EQ (main.getSupportPanel(), nullptr);
    }

    for (auto& folder : main.getFormatFolders())
        EXPECT_FALSE (folder.exists()) << folder.getFullPathName();
}

TEST (Catalogue, TheGeneratedCatalogueHoldsTheProductFileExactly)
{
    const auto json = juce::JSON::parse (buildMachineFile (OH_PRODUCT_FILE_PATH));
    ASSERT_TRUE (json.isObject());

    EXPECT_EQ (juce::String (Product::rawName), json["name"].toString());
    EXPECT_EQ (juce::String (Product::version), json["version"].toString());
    // A value given per platform: this build's own.
   #if JUCE_WINDOWS
    const juce::Identifier platform { "windows" };
   #else
    const juce::Identifier platform { "linux" };
   #endif
    const auto suffix = json["platformSuffix"];
    EXPECT_EQ (juce::String (Product::platformSuffix), suffix.isObject() ? suffix[platform].toString() : suffix.toString());
    EXPECT_EQ (juce::String (Product::pageUrl), json["productPageUrl"].toString());
    EXPECT_EQ (juce::String (Product::manualUrl), json["manualUrl"].toString());
    EXPECT_EQ (juce::String (Product::discordUrl), json["discordUrl"].toString());
    EXPECT_EQ (juce::String (Product::supportMailUrl), json["supportMailUrl"].toString());
    EXPECT_EQ (juce::String (Product::companyName), json["companyName"].toString());

    // The licence file's text, less the line feed an editor ends the file with.
    auto text = buildMachineFile (OH_EULA_FILE_PATH).loadFileAsString().replace ("\r\n", "\n");
    if (text.endsWithChar ('\n'))
        text = text.dropLastCharacters (1);
    EXPECT_EQ (eulaText, text);
    EXPECT_FALSE (eulaText.containsChar ('\r'));
}

TEST (Catalogue, DemoProductValues)
{
    OH_DEMO_FACT();
    EXPECT_EQ (Product::displayName(), "Velquin");
    EXPECT_STREQ (Product::version, "1.0.0");
   #if JUCE_WINDOWS
    EXPECT_STREQ (Product::platformSuffix, " for Windows");
   #else
    EXPECT_STREQ (Product::platformSuffix, " for Linux");
   #endif
    EXPECT_STREQ (Product::companyName, "Oakhaze, Inc.");
}

TEST (Catalogue, LicenceTextHasTheShippedForm)
{
    OH_DEMO_FACT();
    EXPECT_GT (eulaText.length(), 4500);
    EXPECT_LT (eulaText.length(), 5000);
    EXPECT_FALSE (eulaText.containsChar ('\r'));
    EXPECT_FALSE (eulaText.endsWithChar ('\n'));

    juce::StringArray lines;
    lines.addTokens (eulaText, "\n", "");
    ASSERT_EQ (lines.size(), 18);

    int paragraphs = 0, capitalParagraphs = 0;
    for (auto& line : lines)
    {
        if (line.isEmpty())
            continue;

        ++paragraphs;
        capitalParagraphs += line == line.toUpperCase() ? 1 : 0;
    }
    EXPECT_EQ (paragraphs, 11);
    EXPECT_GE (capitalParagraphs, 3);

    for (auto c : eulaText)
        ASSERT_LT ((int) c, 128);
}

TEST (Catalogue, DefaultFoldersAreWhereTheHostsLook)
{
    const auto folders = defaultFormatFolders (SystemPaths::fromSystem().defaultFolderBase);

   #if JUCE_WINDOWS
    // The system's Common Files, wherever Windows lies (the environment names the same place).
    const auto common = juce::SystemStats::getEnvironmentVariable ("CommonProgramFiles", {});
    ASSERT_TRUE (common.isNotEmpty());
    EXPECT_EQ (folders[0].getFullPathName(), common + "\\VST3");
    EXPECT_EQ (folders[1].getFullPathName(), common + "\\CLAP");
    EXPECT_EQ (folders[2].getFullPathName(), common + "\\Avid\\Audio\\Plug-Ins");
   #else
    EXPECT_EQ (folders[0].getFullPathName(), "/usr/local/lib/vst3");
    EXPECT_EQ (folders[1].getFullPathName(), "/usr/lib/clap");
    EXPECT_EQ (folders[2].getFullPathName(), "/usr/local/lib/Avid/Audio/Plug-Ins");

    // Tests move the whole tree below a folder of their own.
    const auto moved = defaultFormatFolders (juce::File ("/tmp/base"));
    EXPECT_EQ (moved[1].getFullPathName(), "/tmp/base/usr/lib/clap");
   #endif

    // Without a base there are no folders, not folders at the root of a drive.
    EXPECT_EQ (defaultFormatFolders (juce::File()), PerFormat<juce::File>());
}

// What the extensions are for: the bundle each format installs and looks for.
TEST (Catalogue, BundlesAreNamedForTheProductAndTheFormat)
{
    const auto name = Product::displayName ("Velquin_Pro");
    EXPECT_EQ (name, "Velquin Pro");

    const char* const expected[] = { "Velquin Pro.vst3", "Velquin Pro.clap", "Velquin Pro.aaxplugin" };

    for (int k = 0; k < numFormats; ++k)
    {
        EXPECT_EQ (bundleName (name, k), expected[k]);
        const auto bundle = bundlePath (juce::File ("/x/folder"), name, k);
        EXPECT_EQ (bundle.getFileName(), expected[k]);
        EXPECT_EQ (bundle.getParentDirectory(), juce::File ("/x/folder"));
    }
}

TEST (Catalogue, PresenceTestCountsAnythingAtTheBundlePath)
{
    TempFolder temp;
    const auto folders = defaultFormatFolders (temp["lib"]);

    struct Case { int k; const char* what; bool present; };
    const Case cases[] = {
        { 0, "absent",       false },
        { 0, "plain file",   true  },
        { 2, "empty folder", true  },
       #if ! JUCE_WINDOWS   // links on Windows need a privilege the tests do not assume
        { 1, "dangling link", true },
       #endif
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto k = (size_t) c.k;
        const auto bundle = bundlePath (folders[k], "Velquin", c.k);
        bundle.deleteRecursively (false);
        folders[k].createDirectory();

        const juce::String what (c.what);
        if (what == "plain file")    bundle.replaceWithText ("not a plug-in");
        if (what == "empty folder")  bundle.createDirectory();
        if (what == "dangling link") temp["nowhere"].createSymbolicLink (bundle, true);

        EXPECT_EQ (isBundlePresent (folders[k], "Velquin", c.k), c.present);
    }
}

TEST (Catalogue, AnEmptyFolderNeverBecomesAPath)
{
    EXPECT_EQ (bundlePath ({}, "Velquin", 0), juce::File());
    EXPECT_FALSE (isBundlePresent ({}, "Velquin", 0));
}
