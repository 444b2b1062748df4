#include "Application.h"

#include <gtest/gtest.h>

namespace
{
    // The window builds its content from the machine's paths, which the test
    // main has hidden under empty temporary filesystems.
    struct WindowFixture : ::testing::Test
    {
        WindowFixture()
        {
            window = std::make_unique<oh_installerApplication::MainWindow> ("oh_installer");
            juce::MessageManager::getInstance()->runDispatchLoopUntil (200);
        }

        std::unique_ptr<oh_installerApplication::MainWindow> window;
    };

    // What dragging the bottom-right resizer to a new size ends up as.
    juce::Rectangle<int> dragTo (juce::ResizableWindow& w, int width, int height)
    {
        auto* content = w.getContentComponent();
        const auto border = w.getBounds().getWidth() - content->getWidth();
        const auto borderH = w.getBounds().getHeight() - content->getHeight();
        w.getConstrainer()->setBoundsForComponent (&w, w.getBounds().withSize (width + border, height + borderH),
                                                   false, false, true, true);
        return content->getBounds();
    }
}

TEST_F (WindowFixture, OpensCentredWithASquareContentOf600)
{
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
}

TEST_F (WindowFixture, ResizingKeepsTheContentSquareAndNeverBelow128)
{
    const auto wide = dragTo (*window, 700, 500);
    EXPECT_EQ (wide.getWidth(), wide.getHeight());

    const auto tiny = dragTo (*window, 40, 40);
    EXPECT_EQ (tiny.getWidth(), tiny.getHeight());
    EXPECT_GE (window->getWidth(), 128);
    EXPECT_GE (window->getHeight(), 128);
}
