#pragma once

#include "MainComponent.h"
#include "WindowHints.h"
#include "WindowOperation.h"
#include "WineRepaints.h"

/** The process frame: one main window whose whole content is the main component. */
class oh_installerApplication final : public juce::JUCEApplication
{
public:
    oh_installerApplication() = default;

    const juce::String getApplicationName() override       { return JUCE_APPLICATION_NAME_STRING; }
    const juce::String getApplicationVersion() override    { return JUCE_APPLICATION_VERSION_STRING; }
    bool moreThanOneInstanceAllowed() override             { return true; }

    void initialise (const juce::String&) override
    {
        mainWindow = std::make_unique<MainWindow> (getApplicationName());
    }

    void shutdown() override
    {
        mainWindow = nullptr;
    }

    void anotherInstanceStarted (const juce::String&) override {}

    void systemRequestedQuit() override
    {
        quit();
    }

    //==============================================================================
    class MainWindow final : public juce::DocumentWindow
    {
    public:
        explicit MainWindow (const juce::String& name)
            : DocumentWindow (name,
                              juce::Desktop::getInstance().getDefaultLookAndFeel()
                                  .findColour (juce::ResizableWindow::backgroundColourId),
                              DocumentWindow::allButtons,
                              false)
        {
            // Settled off screen, then given its native window once: on the
            // desktop each of these steps replaces the native window, and the
            // title bar and resize steps also show it.
            setUsingNativeTitleBar (true);
            setContentOwned (new MainComponent (SystemPaths::fromSystem(), windowOperation()), true);
            setResizable (true, true);
            getConstrainer()->setFixedAspectRatio (1.0);
            centreWithSize (getWidth(), getHeight());
            addToDesktop (getDesktopWindowStyleFlags(), nullptr);   // applies the size hints
            WindowHints::setIcon (*this);
            setVisible (true);

           #if JUCE_WINDOWS
            if (isRunningUnderWine())
                wineRepaints = std::make_unique<WineRepaintFlusher> (*this);
           #endif
        }

        // The framework rewrites the window manager's size hints whenever it
        // places the window: on a new native window, on every move and resize,
        // and once more before the first paint. Put the aspect ratio and the
        // minimum back each time.
        void addToDesktop (int windowStyleFlags, void* nativeWindowToAttachTo) override
        {
            DocumentWindow::addToDesktop (windowStyleFlags, nativeWindowToAttachTo);
            hintsPainted = false;
            WindowHints::apply (*this);
        }

        void moved() override
        {
            DocumentWindow::moved();
            WindowHints::apply (*this);
        }

        void resized() override
        {
            DocumentWindow::resized();
            WindowHints::apply (*this);
        }

        void paint (juce::Graphics& g) override
        {
            DocumentWindow::paint (g);

            if (! std::exchange (hintsPainted, true))
                juce::MessageManager::callAsync ([safe = juce::Component::SafePointer<MainWindow> (this)]
                                                 {
                                                     if (safe != nullptr)
                                                         WindowHints::apply (*safe);
                                                 });
        }

        void closeButtonPressed() override
        {
            JUCEApplication::getInstance()->systemRequestedQuit();
        }

    private:
        bool hintsPainted = false;

       #if JUCE_WINDOWS
        std::unique_ptr<WineRepaintFlusher> wineRepaints;
       #endif

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

private:
    std::unique_ptr<MainWindow> mainWindow;
};
