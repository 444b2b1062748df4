#include <gtest/gtest.h>   // before Xlib's macros

// The framework's own X11 declarations: the test reads events into Xlib's queue as the framework's own calls do.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "Application.h"
#include "support/WindowManager.h"

namespace
{
    void pump (int ms)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
    }

    // The window builds its content from the machine's paths, which the test
    // main has hidden under empty temporary filesystems.
    std::unique_ptr<oh_installerApplication::MainWindow> openWindow()
    {
        auto window = std::make_unique<oh_installerApplication::MainWindow> ("oh_installer");
        pump (300);
        return window;
    }

    juce::String windowId (juce::Component& window)
    {
        return juce::String ((juce::pointer_sized_uint) window.getWindowHandle());
    }

    // The client window's size as the X server has it.
    juce::Rectangle<int> clientSize (const juce::String& id)
    {
        juce::StringPairArray g;
        for (auto& line : juce::StringArray::fromLines (commandOutput ("xdotool getwindowgeometry --shell " + id)))
            g.set (line.upToFirstOccurrenceOf ("=", false, false), line.fromFirstOccurrenceOf ("=", false, false));
        return { g["WIDTH"].getIntValue(), g["HEIGHT"].getIntValue() };
    }

    // Asks from outside, as a user's drag on the frame would through the window manager.
    juce::Rectangle<int> resizeFromOutside (const juce::String& id, juce::Component& content, int w, int h)
    {
        commandOutput ("xdotool windowsize " + id + " " + juce::String (w) + " " + juce::String (h));

        // The window manager answers with a configure event; wait until both sides agree.
        // JUCE 7 reads X events only when its connection becomes readable, so one that
        // Xlib queued while the framework was talking to the server (a repaint's sync)
        // waits for the next event; a pointer move over the window, as a user's hand
        // would make, delivers it.
        for (int i = 0; i < 100; ++i)
        {
            pump (50);
            const auto onServer = clientSize (id);
            if (onServer.getWidth() == content.getWidth() && onServer.getHeight() == content.getHeight())
                break;
            if (i % 10 == 9)
                commandOutput ("xdotool mousemove --window " + id + " " + juce::String (i % 20) + " 5");
        }
        return clientSize (id);
    }
}

TEST (MainWindow, OpensCentredWithASquareContentOf600AndThePlume)
{
    const auto window = openWindow();

    auto* content = window->getContentComponent();
    ASSERT_NE (dynamic_cast<MainComponent*> (content), nullptr);
    EXPECT_EQ (content->getWidth(), 600);
    EXPECT_EQ (content->getHeight(), 600);
    EXPECT_TRUE (window->isVisible());
    EXPECT_TRUE (window->isUsingNativeTitleBar());
    EXPECT_TRUE (window->isResizable());
    EXPECT_EQ (window->getName(), "oh_installer");

    const auto display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_NEAR (window->getBounds().getCentreX(), display.getCentreX(), 1);
    EXPECT_NEAR (window->getBounds().getCentreY(), display.getCentreY(), 1);

    // _NET_WM_ICON: width, height, then ARGB pixels; the plume is blue on transparent.
    const auto icon = commandOutput ("xprop -id " + windowId (*window) + " -notype 32c _NET_WM_ICON");
    const auto values = juce::StringArray::fromTokens (icon.fromFirstOccurrenceOf ("=", false, false), ",", "");
    ASSERT_GT (values.size(), 2 + 128 * 128 - 1) << icon.substring (0, 200);
    EXPECT_EQ (values[0].trim().getIntValue(), 128);
    EXPECT_EQ (values[1].trim().getIntValue(), 128);

    int brand = 0, clear = 0;
    for (int i = 2; i < values.size(); ++i)
    {
        const auto argb = (juce::uint32) values[i].trim().getLargeIntValue();
        const juce::Colour c (argb);
        clear += c.getAlpha() == 0 ? 1 : 0;
        brand += c.getAlpha() == 255 && std::abs (c.getRed() - 0x00) < 24 && std::abs (c.getGreen() - 0x94) < 24
                     && std::abs (c.getBlue() - 0xd8) < 24 ? 1 : 0;
    }
    EXPECT_GT (brand, 1000);
    EXPECT_GT (clear, 4000);
}

// The window is built off screen and given its native window once: one that
// is shown, dropped and shown again flickers at start, and whoever looks for
// it (a taskbar, a test driver) can be handed a window that is gone.
// A call that waits for the server's answer also reads the events that came
// before it into Xlib's own queue, where the framework, which looks only when
// its connection becomes readable, would leave them until the next event: a
// pointer move (or a click) made with the hand then held still would never
// arrive. The window makes sure they do.
TEST (MainWindow, EventsXlibHasQueuedUnseenAreDelivered)
{
    const auto window = openWindow();
    const auto id = windowId (*window);

    struct Moves : juce::MouseListener
    {
        int count = 0;
        void mouseMove (const juce::MouseEvent&) override   { ++count; }
        void mouseEnter (const juce::MouseEvent&) override  { ++count; }
    } moves;

    commandOutput ("xdotool mousemove 1270 1010");
    pump (300);
    // On the window itself: a listener on the whole desktop would be fed by the framework's own pointer polling.
    window->addMouseListener (&moves, true);

    // The pointer goes over the window; before the framework looks, a round
    // trip on its connection reads the motion into Xlib's queue.
    commandOutput ("xdotool mousemove --window " + id + " 300 300");
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    ASSERT_NE (display, nullptr);
    int waiting = 0;

    for (int i = 0; i < 100 && waiting == 0; ++i)
    {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        juce::X11Symbols::getInstance()->xSync (display, False);
        waiting = juce::X11Symbols::getInstance()->xEventsQueued (display, QueuedAlready);

        if (waiting == 0)
            juce::Thread::sleep (20);
    }

    ASSERT_GT (waiting, 0) << "the motion never reached Xlib's queue";

    for (int i = 0; i < 200 && moves.count == 0; ++i)
        pump (25);

    window->removeMouseListener (&moves);
    EXPECT_GT (moves.count, 0) << "the window never saw the motion Xlib held; still queued: " << XEventWake::eventsWaiting()
                               << ", pointer: " << commandOutput ("xdotool getmouselocation --shell").replace ("\n", " ");
}

TEST (MainWindow, StartsWithOneNativeWindowShownOnce)
{
    juce::Desktop::getInstance();   // the framework's own hidden window is made before we watch
    RootWindowEvents events;
    ASSERT_EQ (events.take().created, 0);

    const auto window = openWindow();
    const auto seen = events.take();
    EXPECT_EQ (seen.created, 1);
    EXPECT_EQ (seen.mapped, 1);
    EXPECT_EQ (seen.destroyed, 0);
    EXPECT_TRUE (window->isOnDesktop());
}

TEST (MainWindow, UnderAWindowManagerOutsideResizesKeepTheClientSquareAndAtLeast128)
{
    WindowManager wm;
    ASSERT_TRUE (wm.isRunning()) << "openbox did not start";

    const auto window = openWindow();
    auto* content = window->getContentComponent();
    const auto id = windowId (*window);

    // What the window manager reads.
    const auto hints = commandOutput ("xprop -id " + id + " WM_NORMAL_HINTS");
    EXPECT_TRUE (hints.contains ("program specified minimum size: 128 by 128")) << hints;
    EXPECT_TRUE (hints.contains ("program specified minimum aspect ratio: 1/1")) << hints;
    EXPECT_TRUE (hints.contains ("program specified maximum aspect ratio: 1/1")) << hints;

    struct Case { int w, h; int expectedAtLeast, expectedAtMost; };
    const Case cases[] = {
        { 700, 500, 500, 700 },   // wider than high
        { 300, 800, 300, 800 },   // higher than wide
        { 40, 40, 128, 128 },     // below the minimum
        { 1000, 1000, 1000, 1000 },
        { 10, 900, 128, 900 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h));
        const auto size = resizeFromOutside (id, *content, c.w, c.h);

        EXPECT_EQ (size.getWidth(), size.getHeight());
        EXPECT_GE (size.getWidth(), c.expectedAtLeast);
        EXPECT_LE (size.getWidth(), c.expectedAtMost);
        EXPECT_EQ (content->getWidth(), size.getWidth());
        EXPECT_EQ (content->getHeight(), size.getHeight());
    }

    // The hints survive the moves and resizes the framework makes.
    EXPECT_TRUE (commandOutput ("xprop -id " + id + " WM_NORMAL_HINTS").contains ("program specified maximum aspect ratio: 1/1"));
}
