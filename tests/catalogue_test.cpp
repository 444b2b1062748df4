#include "Catalogue.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

TEST (Catalogue, TablesHoldTheThreeOfferedFormatsAndTheExtras)
{
    EXPECT_EQ (formatNames, juce::StringArray ({ "VST3", "CLAP", "AAX", "AudioUnit V2", "AudioUnit V3" }));
    EXPECT_EQ (formatExtensions, juce::StringArray ({ ".vst3", ".clap", ".aaxplugin" }));
    EXPECT_EQ (extraNames, juce::StringArray ({ "EULA", "MANUAL", "WEBSITE", "SUPPORT", "SETTINGS" }));

    // Nothing beyond the three offered formats has an extension, and so no bundle.
    EXPECT_EQ (numFormats, 3);
    EXPECT_EQ (formatExtensions.size(), numFormats);
    EXPECT_TRUE (formatExtensions[3].isEmpty());
    for (auto& name : formatNames)
        EXPECT_FALSE (name.containsIgnoreCase ("LV2"));
}

TEST (Catalogue, LicenceTextHasTheShippedForm)
{
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

TEST (Catalogue, DefaultFoldersLieBelowTheBase)
{
   #if JUCE_WINDOWS
    const juce::File base ("C:\\Program Files\\Common Files");
    const auto folders = defaultFormatFolders (base);

    EXPECT_EQ (folders[0].getFullPathName(), "C:\\Program Files\\Common Files\\VST3");
    EXPECT_EQ (folders[1].getFullPathName(), "C:\\Program Files\\Common Files\\CLAP");
    EXPECT_EQ (folders[2].getFullPathName(), "C:\\Program Files\\Common Files\\Avid\\Audio\\Plug-Ins");
   #else
    const juce::File base ("/usr/local/lib");
    const auto folders = defaultFormatFolders (base);

    EXPECT_EQ (folders[0].getFullPathName(), "/usr/local/lib/VST3");
    EXPECT_EQ (folders[1].getFullPathName(), "/usr/local/lib/CLAP");
    EXPECT_EQ (folders[2].getFullPathName(), "/usr/local/lib/Avid/Audio/Plug-Ins");
   #endif
    EXPECT_EQ (SystemPaths::fromSystem().defaultFolderBase, base);
}

TEST (Catalogue, UnderscoresInTheProductNameBecomeBlanks)
{
    EXPECT_EQ (Product::displayName(), "Velquin");

    const auto name = Product::displayName ("Velquin_Pro");
    EXPECT_EQ (name, "Velquin Pro");
    EXPECT_EQ (bundleName (name, 0), "Velquin Pro.vst3");
    const auto bundle = bundlePath (juce::File ("/x/CLAP"), name, 1);
    EXPECT_EQ (bundle.getFileName(), "Velquin Pro.clap");
    EXPECT_EQ (bundle.getParentDirectory(), juce::File ("/x/CLAP"));
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
