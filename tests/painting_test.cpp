#include "Installer.h"
#include "support/DemoFacts.h"
#include "support/FaceSteps.h"
#include "support/FaceTables.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
    FaceState stateOf (MainComponent& main)
    {
        FaceState st;
        st.size = main.getWidth();
        st.selected = main.getFormatSelected();
        st.status = statusOnDisk (main);
        st.shiftDown = main.isShiftDown();
        return st;
    }

    // Installs the real payloads of the chosen formats into the temporary folders.
    void install (const TempFolder& temp, PerFormat<bool> which)
    {
        ASSERT_TRUE (processSelectedFormats (which, false, defaultFormatFolders (temp.systemPaths().defaultFolderBase), Product::displayName()));
    }

    bool closeTo (juce::Colour a, juce::Colour b, int tolerance = 2)
    {
        return std::abs (a.getRed() - b.getRed()) <= tolerance && std::abs (a.getGreen() - b.getGreen()) <= tolerance
            && std::abs (a.getBlue() - b.getBlue()) <= tolerance;
    }

    const auto background = FaceTables::background;
}

TEST (Painting, IdleFaceFollowsTheStepsAtEverySize)
{
    TempFolder temp;
    MainComponent main (temp.systemPaths());

    for (auto size : { 600, 500, 1000, 128 })
    {
        SCOPED_TRACE (size);
        main.setSize (size, size);
        const auto log = recordFace (main);
        expectFace (log, expectedFace (stateOf (main)));

        // Icons were recoloured: nothing is painted in pure black.
        for (auto& e : log)
            EXPECT_NE (e.colour, juce::Colours::black) << e.describe();
    }
}

TEST (Painting, InstalledSelectedFormatsAreBlueWithAGoldOutline)
{
    TempFolder temp;
    install (temp, { true, true, false });

    MainComponent main (temp.systemPaths());
    ASSERT_EQ (main.getFormatSelected(), (PerFormat<bool> { true, true, false }));

    const auto st = stateOf (main);
    EXPECT_TRUE (st.status[0].installed);
    EXPECT_TRUE (st.status[1].installed);
    if (isDemoProduct())
    {
        EXPECT_EQ (st.status[1].text, "v1.0.0.0 INSTALLED");
    }
    EXPECT_EQ (st.status[2].text, "NOT INSTALLED");

    expectFace (recordFace (main), expectedFace (st));
}

TEST (Painting, ShiftChangesOnlyTheInstallCaption)
{
    TempFolder temp;
    MainComponent main (temp.systemPaths());
    const auto idle = recordFace (main);

    main.modifierKeysChanged (juce::ModifierKeys (juce::ModifierKeys::shiftModifier));
    const auto shifted = recordFace (main);
    expectFace (shifted, expectedFace (stateOf (main)));

    ASSERT_EQ (shifted.size(), idle.size());
    int differences = 0;
    for (size_t i = 0; i < idle.size(); ++i)
    {
        if (idle[i].text == shifted[i].text && idle[i].origin == shifted[i].origin && idle[i].bounds == shifted[i].bounds
            && idle[i].colour == shifted[i].colour)
            continue;

        ++differences;
        EXPECT_EQ (idle[i].text, "INSTALL");
        EXPECT_EQ (shifted[i].text, "UNINSTALL");
    }
    EXPECT_EQ (differences, 1);

    main.modifierKeysChanged (juce::ModifierKeys());
    expectFace (recordFace (main), expectedFace (stateOf (main)));
}

TEST (Painting, SnapshotShowsWhatWasRecorded)
{
    TempFolder temp;
    install (temp, { false, true, false });
    MainComponent main (temp.systemPaths());

    const auto image = main.createComponentSnapshot (main.getLocalBounds());
    ASSERT_EQ (image.getWidth(), 600);

    struct PixelCase { const char* what; int x, y; juce::Colour expected; };
    const PixelCase cases[] = {
        { "header strip", 300, 2, FaceTables::brand },
        { "background", 300, 350, background },
        { "idle VST3 tile (alpha 89)", 285, 190, background.overlaidWith (FaceTables::muted.withAlpha ((juce::uint8) 89)) },
        { "installed CLAP tile (alpha 230)", 570, 190, background.overlaidWith (FaceTables::brand.withAlpha ((juce::uint8) 230)) },
        { "gold outline on the left edge of CLAP", 306, 210, FaceTables::selection },
        { "no outline on VST3", 23, 210, background },
        { "EXTRAS rule", 300, 429, FaceTables::muted },
        { "idle EULA tile (alpha 128)", 27, 444 + 10, background.overlaidWith (FaceTables::muted.withAlpha ((juce::uint8) 128)) },
        { "SELECT ALL tile (alpha 26)", 484, 139, background.overlaidWith (FaceTables::muted.withAlpha ((juce::uint8) 26)) },
    };

    for (auto& c : cases)
        EXPECT_TRUE (closeTo (image.getPixelAt (c.x, c.y), c.expected))
            << c.what << ": " << image.getPixelAt (c.x, c.y).toDisplayString (false) << " expected " << c.expected.toDisplayString (false);
}
