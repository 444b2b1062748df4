#include "MainComponent.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
    struct CommandsFixture : ::testing::Test
    {
        TempFolder temp;
        MainComponent main { temp.systemPaths() };
        juce::Array<juce::URL> opened;
        LinkOpening opening = LinkOpening::started;   // what the desktop makes of a link

        CommandsFixture()
        {
            main.openLink = [this] (const juce::URL& url) { opened.add (url); return opening; };
        }

        juce::Button& button (const juce::String& name)
        {
            for (auto* child : main.getChildren())
                if (child->getName() == name)
                    if (auto* b = dynamic_cast<juce::Button*> (child))
                        return *b;

            throw std::runtime_error ("no button " + name.toStdString());
        }

        // The way the framework delivers a click: posted, then handed to the listener.
        void click (const juce::String& name)
        {
            button (name).triggerClick();
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
        }

        PerFormat<bool> selection() const { return main.getFormatSelected(); }
    };
}

TEST_F (CommandsFixture, TogglesAndSelectAll)
{
    EXPECT_EQ (selection(), (PerFormat<bool> { false, false, false }));

    click ("CLAP");
    EXPECT_EQ (selection(), (PerFormat<bool> { false, true, false }));
    click ("CLAP");
    EXPECT_EQ (selection(), (PerFormat<bool> { false, false, false }));

    click ("AAX");
    click ("SELECT_ALL");
    EXPECT_EQ (selection(), (PerFormat<bool> { true, true, true }));
    click ("SELECT_ALL");   // there is no select-none
    EXPECT_EQ (selection(), (PerFormat<bool> { true, true, true }));

    click ("VST3");
    EXPECT_EQ (selection(), (PerFormat<bool> { false, true, true }));
    EXPECT_TRUE (opened.isEmpty());
}

TEST_F (CommandsFixture, LinksOpenTheirAddresses)
{
    click ("WEBSITE");
    click ("MANUAL");
    ASSERT_EQ (opened.size(), 2);
    EXPECT_EQ (opened[0].toString (false), Product::pageUrl);
    EXPECT_EQ (opened[1].toString (false), Product::manualUrl);
}

// A link that started nothing (elevated on Windows with no Explorer to take
// it, or no handler at all) says so where the user looks after the click.
TEST_F (CommandsFixture, ALinkThatStartsNothingSaysSoInTheHintLine)
{
    struct Case
    {
        LinkOpening opening;
        const char* hint;   // nullptr: only what the button's own state change shows
    };

    const Case cases[] = {
        { LinkOpening::started,     nullptr },
        { LinkOpening::onClipboard, "Link copied to the clipboard: paste it into your browser" },
        { LinkOpening::failed,      "The link could not be opened: no browser or mail program started" },
    };

    for (auto* link : { "WEBSITE", "MANUAL" })
    {
        for (const auto& c : cases)
        {
            SCOPED_TRACE (juce::String (link) + " " + juce::String ((int) c.opening));
            opening = c.opening;
            click (link);

            if (c.hint != nullptr)
                EXPECT_EQ (main.getHintText(), c.hint);
            else
                EXPECT_FALSE (main.getHintText().containsIgnoreCase ("link")) << main.getHintText();
        }
    }

    EXPECT_EQ (opened.size(), 6);
}

TEST_F (CommandsFixture, PanelsOpenOverTheComponentAndAreReplacedOnTheNextClick)
{
    main.setSize (500, 500);

    click ("EULA");
    juce::Component::SafePointer<juce::Component> firstEula (main.getEulaPanel());
    ASSERT_NE (firstEula, nullptr);
    EXPECT_EQ (firstEula->getParentComponent(), &main);
    EXPECT_EQ (firstEula->getBounds(), main.getBounds());
    EXPECT_TRUE (firstEula->isAlwaysOnTop());
    EXPECT_TRUE (firstEula->isVisible());
    EXPECT_FLOAT_EQ (main.getEulaPanel()->scale, 5.0f);

    click ("SUPPORT");
    ASSERT_NE (main.getSupportPanel(), nullptr);
    EXPECT_EQ (main.getSupportPanel()->settingsFolder, main.getSettingsFolder());
    EXPECT_FLOAT_EQ (main.getSupportPanel()->scale, 5.0f);
    EXPECT_EQ (main.getChildren().getLast(), main.getSupportPanel());

    // The licence panel closed itself: it left its parent but is still owned.
    main.removeChildComponent (main.getEulaPanel());
    EXPECT_NE (firstEula, nullptr);

    click ("EULA");
    EXPECT_EQ (firstEula, nullptr);   // deleted when the new one came
    EXPECT_EQ (main.getEulaPanel()->getParentComponent(), &main);
}

TEST_F (CommandsFixture, ShiftFollowsTheShiftBitWhateverElseIsHeld)
{
    using MK = juce::ModifierKeys;
    struct Step { int flags; bool shift; };
    const Step steps[] = {
        { MK::ctrlModifier, false },
        { MK::ctrlModifier | MK::shiftModifier, true },
        { MK::shiftModifier | MK::altModifier | MK::commandModifier, true },
        { MK::shiftModifier | MK::leftButtonModifier, true },   // mouse buttons are not modifier keys
        { MK::leftButtonModifier, false },
        { MK::altModifier, false },
        { MK::shiftModifier, true },
        { 0, false },
    };

    for (auto& s : steps)
    {
        main.modifierKeysChanged (MK (s.flags));
        EXPECT_EQ (main.isShiftDown(), s.shift) << "flags " << s.flags;
    }
}

TEST (Commands, AButtonNotUnderTheMouseClearsTheHint)
{
    // Headless nothing is under the mouse: every state change clears, SELECT_ALL
    // included. Each row starts from the version text, so each can fail alone.
    for (auto name : { "SELECT_ALL", "VST3", "INSTALL", "EULA" })
    {
        SCOPED_TRACE (name);
        TempFolder temp;
        MainComponent main { temp.systemPaths() };
        ASSERT_EQ (main.getHintText(), OH_PROJECT_VERSION);

        for (auto* child : main.getChildren())
            if (child->getName() == name)
                main.buttonStateChanged (dynamic_cast<juce::Button*> (child));

        EXPECT_EQ (main.getHintText(), "");
    }
}

TEST (Commands, ClosingRemovesALeftoverScriptFromTheTemporaryFolder)
{
    TempFolder temp;
    const auto paths = temp.systemPaths();
    const auto script = paths.temporaryFolder.getChildFile ("script.sh");

    auto main = std::make_unique<MainComponent> (paths);
    ASSERT_TRUE (script.replaceWithText ("#!/bin/sh\n"));
    main.reset();
   #if JUCE_WINDOWS
    // There is no leftover script on Windows, and an elevated process deletes
    // nothing by path in a folder its user controls.
    EXPECT_TRUE (script.existsAsFile());
   #else
    EXPECT_FALSE (script.exists());
   #endif
}

