// INSTALL through its operation seam: what the main component asks of the
// operation and what it makes of the answer. Here, not with the headless
// commands: the result card fades on the desktop's animator, which needs a display.
#include "MainComponent.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

//==============================================================================
namespace
{
    /** Answers INSTALL with a chosen outcome, at once or when told. */
    struct FakeOperation final : Operation
    {
        std::vector<OperationRequest> requests;
        OperationOutcome answer;
        bool answerLater = false;
        Done pending;

        void start (const OperationRequest& request, Done done) override
        {
            requests.push_back (request);

            if (answerLater)
                pending = std::move (done);
            else
                done (answer);
        }
    };

    struct InstallFixture : ::testing::Test
    {
        TempFolder temp;
        FakeOperation* fake = new FakeOperation();
        MainComponent main { temp.systemPaths(), std::unique_ptr<Operation> (fake) };

        void click (const juce::String& name)
        {
            for (auto* child : main.getChildren())
                if (child->getName() == name)
                    if (auto* b = dynamic_cast<juce::Button*> (child))
                        b->triggerClick();

            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
        }
    };
}

// The operation gets the selection, the mode at the moment of the click, the
// folders and the product; only what it reports as dealt with leaves the selection.
TEST_F (InstallFixture, TheOperationGetsTheRequestAndItsOutcomeDrivesCardSelectionAndHint)
{
    click ("VST3");
    click ("AAX");
    main.modifierKeysChanged (juce::ModifierKeys (juce::ModifierKeys::shiftModifier));
    fake->answer = { true, { true, false, false }, {} };
    click ("INSTALL");

    ASSERT_EQ (fake->requests.size(), 1u);
    const auto& request = fake->requests[0];
    EXPECT_EQ (request.formats, (PerFormat<bool> { true, false, true }));
    EXPECT_TRUE (request.uninstall);
    EXPECT_EQ (request.folders, main.getFormatFolders());
    EXPECT_EQ (request.productName, Product::displayName());

    EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { false, false, true }));
    ASSERT_NE (main.getResultPanel(), nullptr);
    EXPECT_TRUE (main.getResultPanel()->success);
    EXPECT_EQ (main.getHintText(), "") << "a success without a word leaves the hint line as the click left it";

    // A failure that says why: the card fails and the hint line tells it.
    main.modifierKeysChanged (juce::ModifierKeys());
    fake->answer = { false, {}, "Nothing changed: the password prompt was dismissed" };
    click ("INSTALL");
    ASSERT_EQ (fake->requests.size(), 2u);
    EXPECT_FALSE (fake->requests[1].uninstall);
    EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { false, false, true }));
    EXPECT_FALSE (main.getResultPanel()->success);
    EXPECT_EQ (main.getHintText(), "Nothing changed: the password prompt was dismissed");
}

TEST_F (InstallFixture, NothingSelectedAsksNothingAndFails)
{
    click ("INSTALL");
    EXPECT_TRUE (fake->requests.empty());
    ASSERT_NE (main.getResultPanel(), nullptr);
    EXPECT_FALSE (main.getResultPanel()->success);
}

// While a password is asked the message loop runs on: a second click must not
// start a second run, and the card comes when the first one ends.
TEST_F (InstallFixture, AClickWhileTheOperationRunsIsIgnored)
{
    fake->answerLater = true;
    click ("CLAP");
    click ("INSTALL");
    click ("INSTALL");

    EXPECT_EQ (fake->requests.size(), 1u);
    EXPECT_TRUE (main.isOperationRunning());
    EXPECT_EQ (main.getResultPanel(), nullptr);
    EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { false, true, false }));

    fake->pending ({ true, { false, true, false }, {} });
    EXPECT_FALSE (main.isOperationRunning());
    ASSERT_NE (main.getResultPanel(), nullptr);
    EXPECT_TRUE (main.getResultPanel()->success);
    EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { false, false, false }));

    fake->answerLater = false;
    click ("CLAP");
    click ("INSTALL");
    EXPECT_EQ (fake->requests.size(), 2u);
}

#if ! JUCE_WINDOWS
#include "DeployProgram.h"
#include "RunLog.h"

// The password prompt dismissed (pkexec 126) or the authorisation refused
// (127): the deploy program never runs, nothing on disk changes, the
// selection stays for another try, and the window says what happened: the
// failed card, and the hint line with the reason.
TEST (InstallThroughPkexec, ADismissedOrRefusedPromptChangesNothingAndSaysSo)
{
    const std::pair<const char*, const char*> endings[] = {
        { "126", "Nothing changed: the password prompt was dismissed" },
        { "127", "Nothing changed: no administrator's authorisation was given" },
    };

    juce::StringArray logged;
    RunLog::setSystemCall ([&logged] (RunLog::Event, const juce::String& line) { logged.add (line); });

    for (auto& [status, hint] : endings)
    {
        SCOPED_TRACE (status);
        logged.clear();
        TempFolder temp;
        const auto ran = temp["deploy program ran"];
        const auto pkexec = temp["pkexec"], program = temp["oh_deploy"];
        ASSERT_TRUE (pkexec.replaceWithText (juce::String ("#!/bin/sh\nexit ") + status + "\n", false, false, "\n"));
        ASSERT_TRUE (program.replaceWithText ("#!/bin/sh\ntouch " + ran.getFullPathName().quoted ('\'') + "\n", false, false, "\n"));
        pkexec.setExecutePermission (true);
        program.setExecutePermission (true);

        DeployProgram::Command command;
        command.program = program;
        command.pkexec = pkexec;
        command.viaPkexec = true;

        MainComponent main (temp.systemPaths(), DeployProgram::operation (command));
        const auto before = temp.get().findChildFiles (juce::File::findFilesAndDirectories, true).size();

        for (auto* name : { "VST3", "AAX", "INSTALL" })
            for (auto* child : main.getChildren())
                if (child->getName() == name)
                    dynamic_cast<juce::Button*> (child)->triggerClick();

        for (int i = 0; i < 200 && main.getResultPanel() == nullptr; ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

        ASSERT_NE (main.getResultPanel(), nullptr) << "no result within 10 s";
        EXPECT_FALSE (main.getResultPanel()->success);
        EXPECT_EQ (main.getHintText(), hint);
        EXPECT_EQ (main.getFormatSelected(), (PerFormat<bool> { true, false, true }));
        EXPECT_FALSE (ran.exists());
        EXPECT_EQ (temp.get().findChildFiles (juce::File::findFilesAndDirectories, true).size(), before);
        // The start line, then ours: the deploy program never ran to write one.
        ASSERT_EQ (logged.size(), 2) << logged.joinIntoString ("\n");
        EXPECT_EQ (logged[1], juce::String ("Install of VST3, AAX: ") + hint + " (pkexec " + status + ")");
    }

    RunLog::setSystemCall ({});
}
#endif
