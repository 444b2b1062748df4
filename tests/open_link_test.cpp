#include "OpenLink.h"

#if ! JUCE_WINDOWS

#include "support/ChildProcess.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace
{
/** A link no shell may see: each of these characters means something to one. */
const char* const awkwardLink = "https://example.com/a$(touch${IFS}pwned)`id`;b'c'\"d\"&e|f<g>h";

/** A recording xdg-open alone on PATH, in a folder of the test's; the working
    folder is the test's too, where a shell that ran the link would leave its file. */
std::string setUpHandler (const juce::File& root, bool withXdgOpen)
{
    const auto bin = root.getChildFile ("bin");
    bin.createDirectory();

    if (withXdgOpen)
    {
        const auto record = root.getChildFile ("record").getFullPathName();
        const auto xdgOpen = bin.getChildFile ("xdg-open");
        xdgOpen.replaceWithText ("#!/bin/sh\n"
                                 "{ id -u; printf '%s\\n' \"$#\" \"$1\"; readlink /proc/$$/fd/$OURS || echo closed; } > " + record + ".part && mv "
                                 + record + ".part " + record + "\n", false, false, "\n");
        xdgOpen.setExecutePermission (true);
    }

    if (chdir (root.getFullPathName().toRawUTF8()) != 0)
        return "could not enter the test's folder";

    setenv ("PATH", (bin.getFullPathName() + ":/usr/bin:/bin").toRawUTF8(), 1);
    return {};
}
} // namespace

// The window runs as the desktop user: the handler runs as that same user,
// with the link as its one argument, no shell, and none of our descriptors.
TEST (OpenLink, TheHandlerGetsTheLinkAsItsOneArgumentWithoutAShell)
{
    TempFolder temp;
    const auto root = temp.get();

    const auto message = inChild ([&]() -> std::string
    {
        if (auto failure = setUpHandler (root, true); ! failure.empty())
            return failure;

        // One of ours that the handler must not inherit.
        const int ours = open ("/dev/null", O_RDONLY);

        setenv ("OURS", std::to_string (ours).c_str(), 1);

        if (ours < 0 || openLinkAsDesktopUser (juce::URL::createWithoutParsing (awkwardLink)) != LinkOpening::started)
            return "nothing started";

        const auto recordFile = root.getChildFile ("record");

        for (int i = 0; i < 200 && ! recordFile.existsAsFile(); ++i)
            juce::Thread::sleep (50);

        juce::StringArray lines;
        lines.addLines (recordFile.loadFileAsString());

        if (lines.size() < 4)
            return "no record from xdg-open";

        std::string problems;
        const auto expect = [&] (const char* what, const juce::String& got, const juce::String& wanted)
        {
            if (got != wanted)
                problems += std::string (what) + " was \"" + got.toStdString() + "\", not \"" + wanted.toStdString() + "\"\n";
        };

        expect ("uid", lines[0], juce::String ((int) getuid()));
        expect ("arguments", lines[1], "1");
        expect ("link", lines[2], awkwardLink);
        expect ("our descriptor", lines[3], "closed");

        if (root.getChildFile ("pwned").exists())
            problems += "a shell ran the link\n";

        return problems;
    });

    EXPECT_EQ ("", message);
}

TEST (OpenLink, NoHandlerOnThePathStartsNothing)
{
    TempFolder temp;
    const auto root = temp.get();

    const auto message = inChild ([&]() -> std::string
    {
        if (auto failure = setUpHandler (root, false); ! failure.empty())
            return failure;

        setenv ("PATH", root.getChildFile ("bin").getFullPathName().toRawUTF8(), 1);
        return openLinkAsDesktopUser (juce::URL ("https://example.com")) != LinkOpening::failed ? "it says a handler started" : "";
    });

    EXPECT_EQ ("", message);
}

#endif

#if JUCE_WINDOWS
 #include "OpenLinkWindows.h"

 #include <gtest/gtest.h>
 #include <juce_gui_basics/juce_gui_basics.h>

// Elevated, a link opens only through the desktop's Explorer, at the user's
// own level. Where that cannot take it, no browser starts with the
// administrator's token: the address waits on the clipboard instead.
TEST (OpenLinkWindows, ElevatedNothingOpensButThroughTheDesktopsExplorer)
{
    struct Case
    {
        bool elevated, explorerTakesIt, shellTakesIt;
        LinkOpening opening;
        bool shellExecuted, onClipboard;
    };

    const Case cases[] = {
        { false, false, true,  LinkOpening::started,     true,  false },
        { false, false, false, LinkOpening::failed,      true,  false },
        { true,  true,  true,  LinkOpening::started,     false, false },
        { true,  false, true,  LinkOpening::onClipboard, false, true  },
    };

    const auto saved = OpenLinkWindows::calls();
    const juce::String link ("https://oakhaze.com/velquin?from=installer");

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.elevated ? "elevated" : "not elevated") + (c.explorerTakesIt ? ", Explorer takes it" : ", no Explorer")
                      + (c.shellTakesIt ? "" : ", no handler"));
        juce::StringArray explorer, shell;
        juce::SystemClipboard::copyTextToClipboard ("before");

        auto& calls = OpenLinkWindows::calls();
        calls.isElevated = [&] { return c.elevated; };
        calls.throughDesktopExplorer = [&] (const juce::String& l) { explorer.add (l); return c.explorerTakesIt; };
        calls.shellExecute = [&] (const juce::String& l) { shell.add (l); return c.shellTakesIt; };

        EXPECT_EQ (openLinkAsDesktopUser (juce::URL (link)), c.opening);
        EXPECT_EQ (shell, c.shellExecuted ? juce::StringArray (link) : juce::StringArray());
        EXPECT_EQ (explorer, c.elevated ? juce::StringArray (link) : juce::StringArray());
        EXPECT_EQ (juce::SystemClipboard::getTextFromClipboard(), c.onClipboard ? link : juce::String ("before"));

        OpenLinkWindows::calls() = saved;
    }
}
#endif
