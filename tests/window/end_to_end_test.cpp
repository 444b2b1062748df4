#include "Installer.h"
#include "Status.h"
#include "support/DemoFacts.h"
#include "support/FaceSteps.h"
#include "support/FaceTables.h"
#include "support/PrivateMounts.h"
#include "support/Sanitized.h"
#include "support/TempFolder.h"
#include "support/WindowManager.h"

#include <gtest/gtest.h>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
    void pump (int ms)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
    }

    juce::String run (const juce::String& command)
    {
        juce::ChildProcess p;
        juce::StringArray args;
        args.add ("sh");
        args.add ("-c");
        args.add (command);

        if (! p.start (args))
            return {};
        auto out = p.readAllProcessOutput();
        p.waitForProcessToFinish (10000);
        return out.trim();
    }

    bool closeTo (juce::Colour a, juce::Colour b, int tolerance = 3)
    {
        return std::abs (a.getRed() - b.getRed()) <= tolerance && std::abs (a.getGreen() - b.getGreen()) <= tolerance
            && std::abs (a.getBlue() - b.getBlue()) <= tolerance;
    }

    juce::Font regularFont (float height)
    {
        static CustomLookAndFeel lf;
        return juce::Font (lf.regularTypeface).withHeight (height);
    }

    juce::String describe (juce::Colour c) { return c.toDisplayString (false); }

    const auto background = FaceTables::background;
    const auto muted = FaceTables::muted;

    //==============================================================================
    /** Counts the pointer's presses and releases as the framework delivers them. */
    struct PointerEvents : juce::MouseListener
    {
        int downs = 0, ups = 0;
        void mouseDown (const juce::MouseEvent&) override { ++downs; }
        void mouseUp (const juce::MouseEvent&) override   { ++ups; }
    };

    /** Pumps the message loop until the condition holds or the deadline passes.
        Every half second the pointer moves a pixel and back: the framework reads
        X only when its connection turns readable, and an event Xlib queued
        during a repaint can otherwise wait for the next one. */
    bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        const auto start = juce::Time::getMillisecondCounter();

        for (auto nextNudge = start + 500; ! condition();)
        {
            if (juce::Time::getMillisecondCounter() - start > (juce::uint32) timeoutMs)
                return false;

            pump (10);

            if (juce::Time::getMillisecondCounter() > nextNudge)
            {
                run ("xdotool mousemove_relative 1 0 mousemove_relative -- -1 0");
                nextNudge += 500;
            }
        }

        return true;
    }

    // The main component on screen in this process, hovered and pressed with the real pointer.
    struct OnScreen : ::testing::Test
    {
        TempFolder temp;
        std::unique_ptr<MainComponent> main;
        PointerEvents pointer;

        /** What lies on disk before the program starts. */
        virtual void beforeStart() {}

        void SetUp() override
        {
            run ("xdotool mousemove 1200 1000");
            beforeStart();
            main = std::make_unique<MainComponent> (temp.systemPaths(), inProcessOperation (embeddedPayloads(), temp.systemPaths().stateFolder));
            main->openLink = [] (const juce::URL&) { return LinkOpening::started; };
            main->setTopLeftPosition (0, 0);
            main->addToDesktop (0);
            main->setVisible (true);
            juce::Desktop::getInstance().addGlobalMouseListener (&pointer);
            pump (300);
        }

        void TearDown() override
        {
            run ("xdotool mouseup 1; xdotool mousemove 1200 1000");
            pump (100);
            juce::Desktop::getInstance().removeGlobalMouseListener (&pointer);
            main = nullptr;
        }

        juce::Button& button (const juce::String& name)
        {
            for (auto* child : main->getChildren())
                if (child->getName() == name)
                    if (auto* b = dynamic_cast<juce::Button*> (child))
                        return *b;
            throw std::runtime_error ("no button " + name.toStdString());
        }

        void hover (const juce::String& name)
        {
            auto& b = button (name);
            const auto centre = b.getScreenBounds().getCentre();
            run ("xdotool mousemove " + juce::String (centre.x) + " " + juce::String (centre.y));
            // What the paint asks, and the button's own state from the same move.
            EXPECT_TRUE (pumpUntil ([&b] { return b.isMouseOver (false) && b.isOver(); })) << "the pointer never reached " << name;
        }

        // The real pointer's button, waited for until the framework has delivered it.
        void mouseDown()
        {
            const auto before = pointer.downs;
            run ("xdotool mousedown 1");
            EXPECT_TRUE (pumpUntil ([&] { return pointer.downs > before; })) << "the press never arrived";
        }

        void mouseUp()
        {
            const auto before = pointer.ups;
            run ("xdotool mouseup 1");
            EXPECT_TRUE (pumpUntil ([&] { return pointer.ups > before; })) << "the release never arrived";
        }

        // A press and release of the real pointer, as X delivers it.
        void clickWithPointer (juce::Component& target)
        {
            const auto centre = target.getScreenBounds().getCentre();
            const auto before = pointer.ups;
            run ("xdotool mousemove " + juce::String (centre.x) + " " + juce::String (centre.y) + " click 1");
            EXPECT_TRUE (pumpUntil ([&] { return pointer.ups > before; })) << "the click never arrived";
            pump (20);   // what the click posted
        }

        void press (const juce::String& keys)
        {
            run ("xdotool key " + keys);
            pump (200);
        }

        void click (const juce::String& name)
        {
            button (name).triggerClick();
            pump (20);
        }

        FaceState face()
        {
            FaceState st;
            st.size = main->getWidth();
            st.selected = main->getFormatSelected();
            st.status = statusOnDisk (*main);
            st.shiftDown = main->isShiftDown();
            return st;
        }

        // The framework's fading snapshots of result cards: unnamed, not the hint line.
        std::vector<juce::Component*> snapshots() const
        {
            std::vector<juce::Component*> found;
            for (auto* child : main->getChildren())
                if (child != main->getResultPanel() && child->getName().isEmpty() && dynamic_cast<juce::Label*> (child) == nullptr)
                    found.push_back (child);
            return found;
        }

        /** Pixels of the success icon's green and of the warning icon's amber in
            the result card's rectangle, as the window shows it now. */
        std::pair<int, int> cardSignals() const
        {
            const auto image = main->createComponentSnapshot (main->getLocalBounds());
            int green = 0, amber = 0;

            for (int y = 210; y < 390; ++y)
            {
                for (int x = 210; x < 390; ++x)
                {
                    const int r = image.getPixelAt (x, y).getRed(), g = image.getPixelAt (x, y).getGreen(), b = image.getPixelAt (x, y).getBlue();
                    green += g > r + 100 && g > b + 100 ? 1 : 0;
                    amber += r > g + 50 && g > b + 100 ? 1 : 0;
                }
            }

            return { green, amber };
        }

        juce::File bundle (int k) const
        {
            return bundlePath (main->getFormatFolders()[(size_t) k], Product::displayName(), k);
        }
    };
}

//==============================================================================
TEST_F (OnScreen, HoverHintsFollowTheTable)
{
    // Right after construction SELECT_ALL keeps the version text.
    hover ("SELECT_ALL");
    EXPECT_EQ (main->getHintText(), OH_PROJECT_VERSION);

    ASSERT_TRUE (bundlePath (main->getFormatFolders()[1], Product::displayName(), 1).create());

    const std::pair<const char*, juce::String> table[] = {
        { "EULA", "Click to read End-User License Agreement" },
        { "MANUAL", "Click to open product manual in your web browser" },
        { "WEBSITE", "Click to open product page on the Oakhaze website" },
        { "SUPPORT", "Email and Discord support" },
        { "VST3", "Select to install VST3" },
        { "CLAP", juce::String ("Select to update CLAP to ") + Product::version },
        { "AAX", "Select to install AAX" },
        { "INSTALL", "Click to install selected. Shift-click to uninstall selected" },
        { "SELECT_ALL", "" },   // leaving INSTALL cleared it; SELECT_ALL keeps that
    };

    for (auto& [name, hint] : table)
    {
        hover (name);
        EXPECT_EQ (main->getHintText(), hint) << name;
    }

    // Pressing a format tile sets its hint again, from a fresh look at the disk.
    hover ("CLAP");
    bundlePath (main->getFormatFolders()[1], Product::displayName(), 1).deleteFile();
    mouseDown();
    ASSERT_TRUE (button ("CLAP").isDown());
    EXPECT_EQ (main->getHintText(), "Select to install CLAP");
}

TEST_F (OnScreen, HoveredAndPressedTilesPaintTheirStates)
{
    // A format hovered: lighter grey, nothing else changes.
    hover ("AAX");
    auto st = face();
    st.hovered = "AAX";
    expectFace (recordFace (*main), expectedFace (st));

    // Installed, selected and hovered: opaque blue with the gold outline.
    PerFormat<bool> vst3Only { true, false, false };
    ASSERT_TRUE (processSelectedFormats (vst3Only, false, main->getFormatFolders(), Product::displayName()));
    click ("VST3");
    hover ("VST3");
    st = face();
    st.hovered = "VST3";
    ASSERT_TRUE (st.status[0].installed);
    ASSERT_TRUE (st.selected[0]);
    {
        SCOPED_TRACE ("installed, selected, hovered");
        expectFace (recordFace (*main), expectedFace (st));
    }

    // Pressing a format tile shows no pressed look.
    mouseDown();
    ASSERT_TRUE (button ("VST3").isDown()) << "the press did not reach the tile";
    EXPECT_TRUE (button ("VST3").isMouseOver (false)) << "pressed, the pointer still counts as over the tile";
    EXPECT_TRUE (button ("VST3").isMouseButtonDown (false));
    {
        SCOPED_TRACE ("pressed");
        expectFace (recordFace (*main), expectedFace (st));
    }
    mouseUp();

    // SELECT ALL hovered has no hover look; pressed it turns green with a dark caption.
    hover ("SELECT_ALL");
    st = face();
    expectFace (recordFace (*main), expectedFace (st));

    mouseDown();
    st.pressed = "SELECT_ALL";
    expectFace (recordFace (*main), expectedFace (st));

    // The same on screen: the tile centre is green.
    const auto image = main->createComponentSnapshot (main->getLocalBounds());
    EXPECT_TRUE (closeTo (image.getPixelAt (484, 139), FaceTables::accent)) << describe (image.getPixelAt (484, 139));

    mouseUp();
    EXPECT_EQ (main->getFormatSelected(), (PerFormat<bool> { true, true, true }));

    // An extras tile: hovered alpha 191, pressed green.
    hover ("MANUAL");
    st = face();
    st.hovered = "MANUAL";
    expectFace (recordFace (*main), expectedFace (st));
    mouseDown();
    st.pressed = "MANUAL";
    expectFace (recordFace (*main), expectedFace (st));
}

//==============================================================================
// INSTALL fades its result panel on the desktop's animator, which needs a display.
TEST_F (OnScreen, InstallThenUninstallThroughTheRealPayloads)
{
    click ("VST3");
    click ("AAX");
    click ("INSTALL");

    // The card as the user sees it at first: the green tick, no amber.
    const auto [green, amber] = cardSignals();
    EXPECT_GT (green, 1000);
    EXPECT_EQ (amber, 0);

    EXPECT_TRUE (bundle (0).isDirectory());
    EXPECT_TRUE (bundle (2).isDirectory());
    EXPECT_FALSE (bundle (1).exists());
    EXPECT_EQ (main->getFormatSelected(), (PerFormat<bool> { false, false, false }));

    auto* result = main->getResultPanel();
    ASSERT_NE (result, nullptr);
    EXPECT_TRUE (result->success);
    EXPECT_FLOAT_EQ (result->scale, 6.0f);
    EXPECT_EQ (result->getBounds(), main->getBounds());
    EXPECT_TRUE (result->isAlwaysOnTop());
    EXPECT_FALSE (result->isVisible());   // a snapshot of it fades instead

    // The next paint reads the disk.
    const auto st = face();
    EXPECT_TRUE (st.status[0].installed);
    if (isDemoProduct())
    {
        EXPECT_EQ (st.status[2].text, "v1.0.0.0 INSTALLED");
    }
    expectFace (recordFace (*main), expectedFace (st));

    // The snapshot lets clicks through to the buttons underneath.
    EXPECT_EQ (main->getComponentAt (button ("INSTALL").getBounds().getCentre()), &button ("INSTALL"));

    // Shift held: the same click uninstalls what is selected.
    main->modifierKeysChanged (juce::ModifierKeys (juce::ModifierKeys::shiftModifier));
    click ("AAX");
    click ("INSTALL");
    EXPECT_FALSE (bundle (2).exists());
    EXPECT_TRUE (bundle (0).exists());
    ASSERT_NE (main->getResultPanel(), nullptr);
    EXPECT_TRUE (main->getResultPanel()->success);
    EXPECT_EQ (main->getFormatSelected(), (PerFormat<bool> { false, false, false }));
}

// A settings file that moves the VST3 folder: the presence seen at start and
// the bundle INSTALL writes are the moved folder's; the default stays empty.
struct OnScreenWithMovedVst3 : OnScreen
{
    juce::File moved, defaultVst3;

    void beforeStart() override
    {
        const auto paths = temp.systemPaths();
        const auto defaults = defaultFormatFolders (paths.defaultFolderBase);
        moved = temp["elsewhere/VST3 moved"];
        defaultVst3 = defaults[0];

        const auto settingsFolder = paths.commonAppDataFolder.getChildFile ("Oakhaze");
        const auto settings = settingsFolder.getChildFile ("PluginManagerSettings.txt");
        ASSERT_TRUE (settingsFolder.createDirectory());
        ASSERT_TRUE (settings.replaceWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Plugin_Manager_Settings"
                                               " CLAP_Path=\"" + defaults[1].getFullPathName() + "\""
                                               " VST3_Path=\"" + moved.getFullPathName() + "\""
                                               " AAX_Path=\"" + defaults[2].getFullPathName() + "\"/>\n"));

        // As root the file steers only when no other user can change it.
        ASSERT_EQ (chmod (settingsFolder.getFullPathName().toRawUTF8(), 0755), 0);
        ASSERT_EQ (chmod (settings.getFullPathName().toRawUTF8(), 0644), 0);

        // Only the moved folder holds a bundle (an empty one, from an older install).
        ASSERT_TRUE (bundlePath (moved, "Velquin", 0).createDirectory());
        ASSERT_TRUE (defaultVst3.createDirectory());
    }
};

TEST_F (OnScreenWithMovedVst3, SettingsMoveThePreselectionAndWhereInstallWrites)
{
    EXPECT_EQ (main->getFormatFolders()[0], moved);
    EXPECT_EQ (main->getFormatSelected(), (PerFormat<bool> { true, false, false }));

    click ("INSTALL");

    ASSERT_NE (main->getResultPanel(), nullptr);
    EXPECT_TRUE (main->getResultPanel()->success);
    EXPECT_TRUE (bundlePath (moved, "Velquin", 0).getChildFile ("Contents/x86_64-win/Velquin.vst3").existsAsFile());
    EXPECT_EQ (defaultVst3.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
}

TEST_F (OnScreen, ResultPanelsAreReplacedAndShowTheOutcome)
{
    // Nothing selected: failure, nothing on disk; the card shows the amber warning.
    click ("INSTALL");
    const auto [green, amber] = cardSignals();
    EXPECT_EQ (green, 0);
    EXPECT_GT (amber, 1000);
    juce::Component::SafePointer<juce::Component> first (main->getResultPanel());
    ASSERT_NE (first, nullptr);
    EXPECT_FALSE (main->getResultPanel()->success);
    EXPECT_EQ (main->getFormatFolders()[0].getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);

    // A VST3 folder that cannot be a folder fails even though AAX succeeds.
    ASSERT_TRUE (main->getFormatFolders()[0].getParentDirectory().createDirectory());
    ASSERT_TRUE (main->getFormatFolders()[0].create());   // a plain file where the folder should be
    click ("VST3");
    click ("AAX");
    click ("INSTALL");   // mid-fade of the first panel
    EXPECT_EQ (first, nullptr);
    EXPECT_EQ (snapshots().size(), 1u) << "the replaced card's snapshot goes with it";
    ASSERT_NE (main->getResultPanel(), nullptr);
    EXPECT_FALSE (main->getResultPanel()->success);
    EXPECT_TRUE (bundle (2).exists());

    // The result panel keeps the bounds it was given; the window may change.
    main->setSize (1000, 1000);
    EXPECT_EQ (main->getResultPanel()->getBounds(), juce::Rectangle<int> (0, 0, 600, 600));
    EXPECT_FLOAT_EQ (main->getResultPanel()->scale, 6.0f);

    // After the fade nothing of it is left on screen, and the panel stays hidden.
    EXPECT_TRUE (pumpUntil ([&] { return snapshots().empty(); })) << "a leftover snapshot";
    EXPECT_FALSE (main->getResultPanel()->isVisible());
}

TEST_F (OnScreen, TheResultCardFadesOverThreeSeconds)
{
    if (sanitizedBuild())
        GTEST_SKIP() << "reads the fade's alpha against the clock: sanitized, the animation's steps lag behind it";

    const auto start = juce::Time::getMillisecondCounterHiRes();
    click ("INSTALL");
    const auto elapsed = [start] { return juce::Time::getMillisecondCounterHiRes() - start; };
    ASSERT_EQ (snapshots().size(), 1u);
    juce::Component::SafePointer<juce::Component> snapshot (snapshots().front());

    while (elapsed() < 1500.0)
        pump (10);

    // Ease in and out with no start or end speed: halfway at 1.5 s, steepest
    // there. The alpha is at most one animation step old when read.
    ASSERT_NE (snapshot, nullptr) << "gone after " << elapsed() << " ms";
    const auto alpha = snapshot->getAlpha();
    const auto fadedAt = [] (double ms) { const auto t = juce::jlimit (0.0, 1.0, ms / 3000.0);
                                          return 1.0 - (t < 0.5 ? 2.0 * t * t : 1.0 - 2.0 * (1.0 - t) * (1.0 - t)); };
    EXPECT_LE (alpha, fadedAt (1500.0 - 150.0) + 0.02);
    EXPECT_GE (alpha, fadedAt (elapsed()) - 0.02);

    // Gone once the three seconds are over, and not before.
    EXPECT_TRUE (pumpUntil ([&] { return snapshot == nullptr; }, 8000)) << "still there after " << elapsed() << " ms";
    EXPECT_GE (elapsed(), 2900.0);
}

//==============================================================================
// The road of one install, on the real program: its own process, the machine's
// folders (empty temporary filesystems in this test's mount namespace), the pointer
// and keyboard driven from outside.
namespace
{
    /** Polls the condition for up to ten seconds. */
    bool waitFor (const std::function<bool()>& condition)
    {
        for (int i = 0; i < 100 && ! condition(); ++i)
            juce::Thread::sleep (100);
        return condition();
    }

    struct RealWindow
    {
        juce::ChildProcess app;
        juce::String id;

        RealWindow()
        {
            run ("xdotool mousemove 1200 1000");
            if (! app.start (OH_INSTALLER_PATH, 0))
                return;

            // A busy machine can be slow to place the window: wait for it, and look again.
            for (int attempt = 0; attempt < 5; ++attempt)
            {
                id = run (juce::String (OH_FIND_WINDOW).quoted ('\'') + " '^oh_installer$' 20");
                run ("xdotool windowmove --sync " + id + " 0 0; xdotool windowfocus --sync " + id);

                if (waitFor ([this] { return run ("xdotool getwindowgeometry --shell " + id).contains ("WIDTH=600"); }))
                    break;
            }
        }

        ~RealWindow()
        {
            run ("xdotool keyup shift");
            app.kill();
        }

        void moveTo (int x, int y)   { run ("xdotool mousemove --window " + id + " " + juce::String (x) + " " + juce::String (y)); settle(); }
        void clickAt (int x, int y)  { moveTo (x, y); run ("xdotool click 1"); settle(); }
        static void settle()         { juce::Thread::sleep (400); }

        juce::Image screenshot() const
        {
            const auto file = juce::File::createTempFile (".png");
            // Grab the screen and cut the window out: importing the window itself
            // can wait forever for an event under load.
            const auto geometry = run ("xdotool getwindowgeometry --shell " + id);
            juce::StringPairArray g;
            for (auto& line : juce::StringArray::fromLines (geometry))
                g.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));

            run ("timeout 20 import -silent -window root -crop " + g["WIDTH"] + "x" + g["HEIGHT"] + "+" + g["X"] + "+" + g["Y"]
                 + " +repage png:" + file.getFullPathName().quoted());
            auto image = juce::ImageFileFormat::loadFrom (file);
            file.deleteFile();
            return image;
        }
    };

    // Where the hint line's text begins: its glyphs are centred in the label.
    int hintTextLeft (const juce::Image& image)
    {
        for (int x = 24; x < 576; ++x)
            for (int y = 541; y < 557; ++y)
                if (! closeTo (image.getPixelAt (x, y), background, 12))
                    return x;
        return -1;
    }

    int expectedLeft (const juce::String& hint)
    {
        return juce::roundToInt (300.0f - regularFont (18.0f).getStringWidthFloat (hint) * 0.5f);
    }

    // The right end of the VST3 status line, dark glyphs on the tile (left of where
    // the fading result card may still show).
    int statusTextRight (const juce::Image& image)
    {
        int right = -1;
        for (int x = 93; x < 205; ++x)
            for (int y = 214; y < 231; ++y)
                if (closeTo (image.getPixelAt (x, y), background, 20))
                    right = x;
        return right;
    }

    int expectedRight (const juce::String& status)
    {
        return juce::roundToInt (93.0f + regularFont (18.0f).getStringWidthFloat (status));
    }
}

TEST (EndToEnd, TheRoadOfOneInstall)
{
    for (auto& lib : { juce::File ("/usr/local/lib"), juce::File ("/usr/lib/clap") })
    {
        // Only ever the empty filesystem this run laid over the machine's folder.
        ASSERT_TRUE (isTmpfsMountPoint (lib.getFullPathName().toRawUTF8())) << lib.getFullPathName() << " is the machine's own";

        for (auto& f : lib.findChildFiles (juce::File::findFilesAndDirectories, false))
            f.deleteRecursively();
    }

    const juce::File vst3Folder ("/usr/local/lib/vst3");
    const auto vst3Bundle = bundlePath (vst3Folder, Product::displayName(), 0);
    const juce::Point<int> vst3Tile (159, 210), installTile (546, 471);
    const auto tileColour = [] (const juce::Image& im) { return im.getPixelAt (285, 190); };
    const auto outlineColour = [] (const juce::Image& im) { return im.getPixelAt (23, 210); };

    RealWindow window;
    ASSERT_TRUE (window.id.isNotEmpty()) << "the program's window did not show";

    // The program may lag behind the pointer (a loaded machine, a sanitized
    // build): look again until the step's main mark shows, then check it all.
    const auto shotWhen = [&window] (const std::function<bool (const juce::Image&)>& ready)
    {
        auto im = window.screenshot();

        for (int i = 0; i < 40 && ! ready (im); ++i)
        {
            juce::Thread::sleep (250);
            im = window.screenshot();
        }

        return im;
    };

    // Each look at the window waits until everything the step checks shows
    // at once, and only then checks it: a loaded machine (the program's own
    // repaints, the deploy program it runs and waits for) delays the test,
    // never fails it. The checks below repeat the conditions to say which
    // part of the face did not come.
    const auto tileIs = [&] (const juce::Image& im, juce::Colour c) { return closeTo (tileColour (im), c); };
    const auto hintReads = [&] (const juce::Image& im, const juce::String& hint) { return std::abs (hintTextLeft (im) - expectedLeft (hint)) <= 3; };
    const auto statusReads = [&] (const juce::Image& im, const juce::String& status) { return std::abs (statusTextRight (im) - expectedRight (status)) <= 3; };
    const auto notInstalled = background.overlaidWith (muted.withAlpha ((juce::uint8) 89));
    const auto notInstalledHovered = background.overlaidWith (muted.withAlpha ((juce::uint8) 128));
    const auto installed = background.overlaidWith (FaceTables::brand.withAlpha ((juce::uint8) 230));

    // 1. Nothing installed: faint grey tile, NOT INSTALLED, no outline. Moved
    // to the corner, the window shows its face again only once the program
    // has repainted it, which a busy machine can hold up for seconds.
    auto shot = shotWhen ([&] (auto& im) { return im.getWidth() == 600 && tileIs (im, notInstalled) && statusReads (im, "NOT INSTALLED"); });
    ASSERT_EQ (shot.getWidth(), 600);
    EXPECT_FALSE (vst3Bundle.exists());
    EXPECT_TRUE (tileIs (shot, notInstalled)) << describe (tileColour (shot));
    EXPECT_NEAR (statusTextRight (shot), expectedRight ("NOT INSTALLED"), 3);

    // 2. Hover: the tile lightens and the hint offers the install.
    window.moveTo (vst3Tile.x, vst3Tile.y);
    shot = shotWhen ([&] (auto& im) { return tileIs (im, notInstalledHovered) && hintReads (im, "Select to install VST3"); });
    EXPECT_TRUE (tileIs (shot, notInstalledHovered)) << describe (tileColour (shot));
    EXPECT_NEAR (hintTextLeft (shot), expectedLeft ("Select to install VST3"), 3);

    // 3. Click: selected, gold outline.
    window.clickAt (vst3Tile.x, vst3Tile.y);
    shot = shotWhen ([&] (auto& im) { return closeTo (outlineColour (im), FaceTables::selection); });
    EXPECT_TRUE (closeTo (outlineColour (shot), FaceTables::selection)) << describe (outlineColour (shot));

    // 4.-6. INSTALL: the window runs the deploy program and waits for its end;
    // only then is the selection cleared, while the tile already follows the
    // disk. The bundle has landed whole, the tile is blue and reads INSTALLED.
    const auto installHint = juce::String ("Click to install selected. Shift-click to uninstall selected");
    window.clickAt (installTile.x, installTile.y);
    shot = shotWhen ([&] (auto& im) { return tileIs (im, installed) && closeTo (outlineColour (im), background, 12)
                                             && statusReads (im, "INSTALLED") && hintReads (im, installHint); });
    EXPECT_TRUE (tileIs (shot, installed)) << describe (tileColour (shot));
    EXPECT_TRUE (closeTo (outlineColour (shot), background, 12)) << "the selection is cleared: " << describe (outlineColour (shot));
    EXPECT_NEAR (statusTextRight (shot), expectedRight ("INSTALLED"), 3);   // a folder bundle carries no version
    EXPECT_NEAR (hintTextLeft (shot), expectedLeft (installHint), 3);
    EXPECT_TRUE (vst3Bundle.isDirectory());   // swapped in whole
    EXPECT_TRUE (probeFormatStatus (vst3Folder, Product::displayName(), 0).installed);

    // Hover again: opaque blue and the update wording.
    const auto updateHint = juce::String ("Select to update VST3 to ") + Product::version;
    window.moveTo (vst3Tile.x, vst3Tile.y);
    shot = shotWhen ([&] (auto& im) { return tileIs (im, FaceTables::brand) && hintReads (im, updateHint); });
    EXPECT_TRUE (tileIs (shot, FaceTables::brand)) << describe (tileColour (shot));
    EXPECT_NEAR (hintTextLeft (shot), expectedLeft (updateHint), 3);

    // Select it again, hold Shift over INSTALL: the caption reads UNINSTALL; the click removes the bundle.
    window.clickAt (vst3Tile.x, vst3Tile.y);
    shot = shotWhen ([&] (auto& im) { return closeTo (outlineColour (im), FaceTables::selection); });
    ASSERT_TRUE (closeTo (outlineColour (shot), FaceTables::selection)) << "selected again: " << describe (outlineColour (shot));
    window.moveTo (installTile.x, installTile.y);
    run ("xdotool keydown shift");
    const auto captionWidth = [&] (const juce::Image& im)
    {
        int left = 600, right = -1;
        for (int x = 480; x < 600; ++x)
            for (int y = 505; y < 522; ++y)
                if (! closeTo (im.getPixelAt (x, y), background, 12))
                    left = juce::jmin (left, x), right = juce::jmax (right, x);
        return right - left;
    };
    const auto captionReads = [&] (const juce::Image& im, const char* caption)
    {
        return std::abs (captionWidth (im) - regularFont (15.0f).getStringWidthFloat (caption)) <= 3;
    };
    shot = shotWhen ([&] (auto& im) { return captionReads (im, "UNINSTALL"); });
    EXPECT_NEAR (captionWidth (shot), regularFont (15.0f).getStringWidthFloat ("UNINSTALL"), 3);

    // The Shift-click: once the deploy program has ended the selection is
    // cleared, the tile is back to not installed and, Shift let go, the caption
    // reads INSTALL again.
    run ("xdotool click 1");
    run ("xdotool keyup shift");
    shot = shotWhen ([&] (auto& im) { return captionReads (im, "INSTALL") && tileIs (im, notInstalled)
                                             && closeTo (outlineColour (im), background, 12); });
    EXPECT_NEAR (captionWidth (shot), regularFont (15.0f).getStringWidthFloat ("INSTALL"), 3);
    EXPECT_TRUE (tileIs (shot, notInstalled)) << describe (tileColour (shot));
    EXPECT_TRUE (closeTo (outlineColour (shot), background, 12)) << "the selection is cleared: " << describe (outlineColour (shot));
    EXPECT_FALSE (vst3Bundle.exists());
}

// Whatever it is started with, the program shows its window: its arguments never
// reach the framework, whose conversion of them to text crashed on these.
TEST (EndToEnd, ArgumentsThatAreNotTextNeverReachTheFramework)
{
    const std::string hostile = std::string ("\xC0\x80") + std::string (120000, 'A');
    std::vector<char*> argv { const_cast<char*> (OH_INSTALLER_PATH) };
    for (int i = 0; i < 8; ++i)
        argv.push_back (const_cast<char*> (hostile.c_str()));
    argv.push_back (nullptr);

    pid_t pid = 0;
    ASSERT_EQ (posix_spawn (&pid, OH_INSTALLER_PATH, nullptr, nullptr, argv.data(), environ), 0);

    const auto id = run (juce::String (OH_FIND_WINDOW).quoted ('\'') + " '^oh_installer$' 30");
    juce::Thread::sleep (500);   // its first paint
    int status = 0;
    const auto ended = waitpid (pid, &status, WNOHANG);

    kill (pid, SIGKILL);
    waitpid (pid, nullptr, 0);

    ASSERT_EQ (ended, 0) << (WIFSIGNALED (status) ? "killed by signal " + std::to_string (WTERMSIG (status))
                                                  : "ended with status " + std::to_string (WEXITSTATUS (status)));
    EXPECT_TRUE (id.isNotEmpty()) << "no window showed";
}

// A dock matches the running window to its menu entry by the entry's
// StartupWMClass; a mismatch shows a second, unpinnable icon.
TEST (EndToEnd, TheDesktopEntryNamesTheWindowsClass)
{
    const auto entry = juce::StringArray::fromLines (juce::File (OH_DESKTOP_ENTRY_PATH).loadFileAsString());
    juce::String startupClass;
    for (auto& line : entry)
        if (line.startsWith ("StartupWMClass="))
            startupClass = line.fromFirstOccurrenceOf ("=", false, false);
    ASSERT_TRUE (startupClass.isNotEmpty()) << OH_DESKTOP_ENTRY_PATH;

    RealWindow window;
    ASSERT_TRUE (window.id.isNotEmpty()) << "the program's window did not show";

    // WM_CLASS(STRING) = "<instance>", "<class>"
    const auto wmClass = run ("xprop -id " + window.id + " WM_CLASS");
    juce::StringArray parts;
    parts.addTokens (wmClass.fromFirstOccurrenceOf ("=", false, false), ",", "\"");
    parts.trim();
    parts.removeEmptyStrings();
    ASSERT_EQ (parts.size(), 2) << wmClass;
    EXPECT_EQ (parts[1].unquoted(), startupClass) << wmClass;
}

// Closing the window is the only way out the program offers: no prompt, and
// the process ends by itself, cleanly.
TEST (EndToEnd, ClosingTheWindowEndsTheProgram)
{
    // Without a window manager nobody sends the close request, and the
    // framework does not even announce that it would take one.
    WindowManager wm;
    ASSERT_TRUE (wm.isRunning()) << "openbox did not start";

    RealWindow window;
    ASSERT_TRUE (window.id.isNotEmpty()) << "the program's window did not show";
    ASSERT_TRUE (run ("xprop -id " + window.id + " WM_PROTOCOLS").contains ("WM_DELETE_WINDOW"));
    ASSERT_TRUE (window.app.isRunning());

    ASSERT_TRUE (WindowManager::askToClose ((unsigned long) window.id.getLargeIntValue()));

    // Generous: a sanitized build checks its whole heap on the way out.
    EXPECT_TRUE (window.app.waitForProcessToFinish (20000)) << "still running after the close request";
    EXPECT_EQ (window.app.getExitCode(), 0u);
}

//==============================================================================
// The face is painted over invisible buttons: a click must not leave one of them
// holding the keyboard, or Return would click it again.
TEST_F (OnScreen, TheKeyboardDoesNothingButShift)
{
    const auto focusedButton = []
    {
        return dynamic_cast<juce::Button*> (juce::Component::getCurrentlyFocusedComponent());
    };

    clickWithPointer (button ("VST3"));
    ASSERT_EQ (main->getFormatSelected(), (PerFormat<bool> { true, false, false }));
    EXPECT_EQ (focusedButton(), nullptr);

    for (auto* keys : { "Return", "space", "KP_Enter", "Tab Return", "Tab Tab space", "shift+Tab Return" })
    {
        SCOPED_TRACE (keys);
        press (keys);
        EXPECT_EQ (main->getFormatSelected(), (PerFormat<bool> { true, false, false }));
        EXPECT_EQ (main->getResultPanel(), nullptr);
        EXPECT_EQ (main->getEulaPanel(), nullptr);
        EXPECT_EQ (focusedButton(), nullptr);
    }

    // INSTALL once; Return and Shift-Return neither install again nor uninstall.
    clickWithPointer (button ("INSTALL"));
    ASSERT_TRUE (bundle (0).exists());
    juce::Component::SafePointer<juce::Component> card (main->getResultPanel());
    ASSERT_NE (card, nullptr);
    clickWithPointer (button ("VST3"));   // selected again, so an uninstall would remove it

    for (auto* keys : { "Return", "shift+Return", "space", "Tab Return" })
    {
        SCOPED_TRACE (keys);
        press (keys);
        EXPECT_TRUE (bundle (0).exists());
        EXPECT_EQ (main->getResultPanel(), card.getComponent());
    }

    // Shift alone still turns INSTALL into UNINSTALL, and back.
    run ("xdotool keydown shift");
    pump (200);
    EXPECT_TRUE (main->isShiftDown());
    run ("xdotool keyup shift");
    pump (200);
    EXPECT_FALSE (main->isShiftDown());
}

TEST_F (OnScreen, PanelControlsTakeNoFocusButTheLicenceTextDoes)
{
    clickWithPointer (button ("SUPPORT"));
    auto* support = main->getSupportPanel();
    ASSERT_NE (support, nullptr);
    juce::StringArray opened;
    support->openLink = [&] (const juce::URL& url) { opened.add (url.toString (false)); return LinkOpening::started; };

    for (auto* child : support->getChildren())
        if (child->getName() == "DISCORD")
            clickWithPointer (*child);
    ASSERT_EQ (opened.size(), 1);
    EXPECT_EQ (juce::Component::getCurrentlyFocusedComponent(), nullptr);
    press ("Return");
    EXPECT_EQ (opened.size(), 1) << "Return opened the link again";

    juce::Component::SafePointer<juce::Component> supportPanel (support);
    for (auto* child : support->getChildren())
        if (child->getName() == "X")
            clickWithPointer (*child);
    EXPECT_FALSE (supportPanel != nullptr && supportPanel->isShowing()) << "the close glyph closes the panel";
    EXPECT_EQ (juce::Component::getCurrentlyFocusedComponent(), nullptr);

    clickWithPointer (button ("EULA"));
    auto* eula = main->getEulaPanel();
    ASSERT_NE (eula, nullptr);

    juce::TextEditor* text = nullptr;
    for (auto* child : eula->getChildren())
        if (auto* editor = dynamic_cast<juce::TextEditor*> (child))
            text = editor;
    ASSERT_NE (text, nullptr);

    // The agreement can be selected with the keyboard, to copy it.
    clickWithPointer (*text);
    EXPECT_TRUE (text->hasKeyboardFocus (true));
    press ("ctrl+a");
    EXPECT_EQ (text->getHighlightedText(), eulaText);
}
