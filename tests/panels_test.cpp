#include "BinaryData.h"
#include "Catalogue.h"
#include "Icons.h"
#include "panels/PanelLook.h"
#include "panels/panel_eula.h"
#include "panels/panel_success.h"
#include "panels/panel_support.h"
#include "support/FaceTables.h"
#include "support/RecordingGraphics.h"
#include "support/ScopedDefaultLookAndFeel.h"

#include <gtest/gtest.h>

// The palette by its published values, not by the program's own constants.
namespace
{
    const auto backgroundColour = FaceTables::background;
    const auto textColour = FaceTables::text;
    const auto mutedColour = FaceTables::muted;
    const auto accentColour = FaceTables::accent;
}
using Kind = DrawEntry::Kind;

namespace
{
    using Bounds = juce::Rectangle<int>;
    using Area = juce::Rectangle<float>;

    juce::Component* child (juce::Component& parent, const juce::String& name)
    {
        for (auto* c : parent.getChildren())
            if (c->getName() == name)
                return c;

        return nullptr;
    }

    juce::Button& button (juce::Component& parent, const juce::String& name)
    {
        auto* b = dynamic_cast<juce::Button*> (child (parent, name));

        if (b == nullptr)
            throw std::runtime_error (("no button " + name).toStdString());

        return *b;
    }

    std::vector<std::pair<juce::String, Bounds>> childBounds (juce::Component& c)
    {
        std::vector<std::pair<juce::String, Bounds>> result;
        for (auto* ch : c.getChildren())
            result.emplace_back (ch->getName(), ch->getBounds());
        return result;
    }

    // A real click: through the button's own message, to every listener it has.
    void click (juce::Button& b)
    {
        b.triggerClick();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (30);
    }

    template <typename Panel>
    std::vector<DrawEntry> recordPaint (Panel& panel)
    {
        return RecordingGraphics::record (panel.getLocalBounds(), [&] (juce::Graphics& g) { panel.paint (g); });
    }

    struct Line
    {
        juce::String text;
        juce::Point<float> origin;
    };

    // What drawFittedText shows: one line per baseline, from the framework's own arrangement.
    std::vector<Line> fittedLines (const juce::Font& font, const juce::String& text, Bounds box, int maxLines)
    {
        juce::GlyphArrangement arrangement;
        arrangement.addFittedText (font, text, (float) box.getX(), (float) box.getY(),
                                   (float) box.getWidth(), (float) box.getHeight(),
                                   juce::Justification::topLeft, maxLines, 0.0f);
        std::vector<Line> lines;
        float baseline = -1.0e9f;

        for (auto& glyph : arrangement)
        {
            if (lines.empty() || glyph.getBaselineY() != baseline)
            {
                baseline = glyph.getBaselineY();
                lines.push_back ({});
            }

            auto& line = lines.back();
            if (line.text.isEmpty() && ! glyph.isWhitespace())
                line.origin = { glyph.getLeft(), glyph.getBaselineY() };

            if (line.text.isNotEmpty() || ! glyph.isWhitespace())
                line.text += juce::String::charToString (glyph.getCharacter());
        }

        for (auto& line : lines)
            line.text = line.text.trimEnd();

        return lines;
    }

    std::vector<DrawEntry> recordDrawable (const juce::Drawable& icon, Area area, Bounds canvas)
    {
        return RecordingGraphics::record (canvas, [&] (juce::Graphics& g)
        {
            icon.drawWithin (g, area, juce::RectanglePlacement::centred, 1.0f);
        });
    }

    /** Walks a paint log in order; every expectation consumes what it matched. */
    struct LogReader
    {
        const std::vector<DrawEntry>& log;
        size_t next = 0;

        const DrawEntry* take (const char* what)
        {
            if (next >= log.size())
            {
                ADD_FAILURE() << "log ended before " << what;
                return nullptr;
            }

            return &log[next++];
        }

        void shape (Kind kind, juce::Colour colour, Area bounds, float extra = 0.0f)
        {
            auto* e = take ("a shape");
            if (e == nullptr)
                return;

            SCOPED_TRACE (("entry " + juce::String ((int) next - 1) + ": " + e->describe()).toStdString());
            EXPECT_EQ ((int) e->kind, (int) kind);
            EXPECT_EQ (e->colour, colour);
            EXPECT_NEAR (e->bounds.getX(), bounds.getX(), 0.01f);
            EXPECT_NEAR (e->bounds.getY(), bounds.getY(), 0.01f);
            EXPECT_NEAR (e->bounds.getWidth(), bounds.getWidth(), 0.01f);
            EXPECT_NEAR (e->bounds.getHeight(), bounds.getHeight(), 0.01f);

            if (kind == Kind::roundedRect)
            {
                EXPECT_NEAR (e->cornerSize, extra, 0.01f);
            }

            if (kind == Kind::outline)
            {
                EXPECT_NEAR (e->thickness, extra, 0.05f);
            }
        }

        void text (const juce::String& s, juce::Colour colour, float height, juce::Point<float> origin)
        {
            auto* e = take (s.toRawUTF8());
            if (e == nullptr)
                return;

            SCOPED_TRACE (("entry " + juce::String ((int) next - 1) + ": " + e->describe()).toStdString());
            EXPECT_EQ ((int) e->kind, (int) Kind::text);
            EXPECT_EQ (e->text, s);
            EXPECT_EQ (e->colour, colour);
            EXPECT_NEAR (e->fontHeight, height, 0.001f);
            EXPECT_NEAR (e->origin.x, origin.x, 0.01f);
            EXPECT_NEAR (e->origin.y, origin.y, 0.01f);
        }

        // drawText in an area: the framework places the pen, the recorder reads it back.
        void textIn (const juce::String& s, juce::Colour colour, const juce::Font& font, Area area, juce::Justification j)
        {
            const auto expected = RecordingGraphics::expectedText (font, s, area, j);
            EXPECT_EQ (expected.first, s) << "the text fits its area";
            text (s, colour, font.getHeight(), expected.second);
        }

        void lines (const std::vector<Line>& expected, juce::Colour colour, float height)
        {
            for (auto& line : expected)
                text (line.text, colour, height, line.origin);
        }

        void drawable (const std::vector<DrawEntry>& expected)
        {
            ASSERT_FALSE (expected.empty());

            for (auto& e : expected)
            {
                if (auto* got = take ("an icon path"))
                {
                    EXPECT_EQ (got->describe(), e.describe());
                }
            }
        }

        void end() const
        {
            EXPECT_EQ (next, log.size()) << "more was drawn: " << (next < log.size() ? log[next].describe() : juce::String());
        }
    };

    // The close glyph at a unit of 6: the button (528, 9, 48, 48) reduced by 12.
    void closeGlyphAt600 (LogReader& reader, const ScopedDefaultLookAndFeel& lnf)
    {
        const auto colour = mutedColour.withAlpha ((juce::uint8) 0x80);
        reader.shape (Kind::outline, colour, Area (540, 21, 24, 24).expanded (0.75f), 1.5f);
        reader.textIn ("X", colour, lnf.font (18.0f), { 540, 21, 24, 24 }, juce::Justification::centred);
    }

    const char* const discordText = "The Oakhaze Discord is a vibrant community of musicians and producers, and this is "
                                    "the fastest way to get answers to simple questions. Just join and drop in the "
                                    "appropriate channel.";
    const char* const mailText = "If you have more complicated questions, or matters that need to remain private, "
                                 "concerning account information, etc., feel free to email us.";

    juce::String joined (const std::vector<Line>& lines)
    {
        juce::StringArray parts;
        for (auto& line : lines)
            parts.add (line.text);
        return parts.joinIntoString (" ");
    }
}

//==============================================================================
TEST (Panels, ChildrenFollowTheUnitWithHalvesRoundedToEven)
{
    ScopedDefaultLookAndFeel lnf;

    // At unit 7, y 1.5 x 7 = 10.5 rounds down to 10; at unit 5, 7.5 rounds up to 8.
    const struct { float unit; std::vector<std::pair<juce::String, Bounds>> eula, support; } table[] = {
        { 6.0f, { { "", { 24, 72, 552, 480 } }, { "X", { 528, 9, 48, 48 } } },
                { { "X", { 528, 9, 48, 48 } }, { "DISCORD", { 60, 90, 60, 60 } }, { "MAIL", { 60, 210, 60, 60 } } } },
        { 7.0f, { { "", { 28, 84, 644, 560 } }, { "X", { 616, 10, 56, 56 } } },
                { { "X", { 616, 10, 56, 56 } }, { "DISCORD", { 70, 105, 70, 70 } }, { "MAIL", { 70, 245, 70, 70 } } } },
        { 5.0f, { { "", { 20, 60, 460, 400 } }, { "X", { 440, 8, 40, 40 } } },
                { { "X", { 440, 8, 40, 40 } }, { "DISCORD", { 50, 75, 50, 50 } }, { "MAIL", { 50, 175, 50, 50 } } } },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.unit);
        const auto size = juce::roundToInt (row.unit * 100.0f);

        panel_eula eula ("Agreement");
        eula.scale = row.unit;
        eula.setBounds (0, 0, size, size);
        EXPECT_EQ (childBounds (eula), row.eula);

        panel_support support;
        support.scale = row.unit;
        support.setBounds (0, 0, size, size);
        EXPECT_EQ (childBounds (support), row.support);
    }

    panel_success result;
    result.scale = 6.0f;
    result.setBounds (0, 0, 600, 600);
    EXPECT_EQ (result.getNumChildComponents(), 0);
}

TEST (Panels, ButtonsAreInvisibleHitAreasNamedForTheirCommand)
{
    ScopedDefaultLookAndFeel lnf;
    panel_eula eula ("Agreement");
    panel_support support;

    for (juce::Component* panel : { (juce::Component*) &eula, (juce::Component*) &support })
        for (auto* c : panel->getChildren())
            if (auto* b = dynamic_cast<juce::TextButton*> (c))
            {
                EXPECT_EQ (b->getAlpha(), 0.0f) << b->getName();
                EXPECT_TRUE (b->isVisible());
                EXPECT_TRUE (b->getButtonText().isEmpty());
            }

    juce::StringArray supportNames;
    for (auto* c : support.getChildren())
        supportNames.add (c->getName());
    EXPECT_EQ (supportNames, juce::StringArray ({ "X", "DISCORD", "MAIL" }));

    EXPECT_EQ (eula.getNumChildComponents(), 2);
    EXPECT_EQ (support.scale, 9.0f);
    EXPECT_EQ (support.settingsFolder, juce::File());
    EXPECT_EQ (eula.scale, 9.0f);

    panel_success result;
    EXPECT_TRUE (result.success);
    EXPECT_EQ (result.scale, 9.0f);
}

TEST (Panels, AgreementEditorShowsTheTextMutedWithoutOutlineAtHeight14)
{
    ScopedDefaultLookAndFeel lnf;
    const juce::String agreement ("FIRST PARAGRAPH.\n\nSecond paragraph with more words.");
    panel_eula eula (agreement);
    eula.scale = 6.0f;
    eula.setBounds (0, 0, 600, 600);

    auto* editor = dynamic_cast<juce::TextEditor*> (eula.getChildComponent (0));
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getText(), agreement);
    EXPECT_TRUE (editor->isMultiLine());
    EXPECT_FALSE (editor->isReadOnly());
    EXPECT_TRUE (editor->isCaretVisible());
    EXPECT_TRUE (editor->getName().isEmpty());
    EXPECT_EQ (editor->getPasswordCharacter(), 0);
    EXPECT_EQ (editor->findColour (juce::TextEditor::textColourId), mutedColour);
    EXPECT_EQ (editor->findColour (juce::TextEditor::outlineColourId), backgroundColour);
    EXPECT_EQ (editor->findColour (juce::TextEditor::focusedOutlineColourId), backgroundColour);
    EXPECT_EQ (editor->findColour (juce::TextEditor::backgroundColourId), backgroundColour);
    EXPECT_EQ (editor->findColour (juce::ScrollBar::thumbColourId), mutedColour);

    // Only the editor's bounds follow the unit, never its font.
    eula.scale = 10.0f;
    eula.setBounds (0, 0, 1000, 1000);
    EXPECT_EQ (editor->getBounds(), Bounds (40, 120, 920, 800));
    EXPECT_FLOAT_EQ (editor->getFont().getHeight(), 14.0f);

    // Typing changes only this editor: a new panel shows the agreement unchanged.
    editor->setText ("typed over");
    panel_eula again (agreement);
    EXPECT_EQ (dynamic_cast<juce::TextEditor*> (again.getChildComponent (0))->getText(), agreement);
}

TEST (Panels, CloseLeavesTheParentButKeepsThePanelAlive)
{
    ScopedDefaultLookAndFeel lnf;
    juce::Component parent;
    parent.setBounds (0, 0, 600, 600);

    auto eula = std::make_unique<panel_eula> ("Agreement");
    auto support = std::make_unique<panel_support>();
    parent.addAndMakeVisible (*eula);
    parent.addAndMakeVisible (*support);

    click (button (*eula, "X"));
    EXPECT_EQ (eula->getParentComponent(), nullptr);
    EXPECT_EQ (parent.getIndexOfChildComponent (eula.get()), -1);
    EXPECT_EQ (parent.getIndexOfChildComponent (support.get()), 0);

    click (button (*support, "X"));
    EXPECT_EQ (support->getParentComponent(), nullptr);
    EXPECT_EQ (parent.getNumChildComponents(), 0);

    // Still whole: the owner can show them again or delete them later.
    EXPECT_EQ (eula->getNumChildComponents(), 2);
    EXPECT_EQ (support->getNumChildComponents(), 3);

    // Without a parent a close does nothing.
    click (button (*eula, "X"));
    EXPECT_EQ (eula->getParentComponent(), nullptr);
}

TEST (Panels, DiscordAndMailOpenTheirLinksEveryClickAndStayOpen)
{
    ScopedDefaultLookAndFeel lnf;
    juce::Component parent;
    panel_support support;
    parent.addAndMakeVisible (support);

    ASSERT_TRUE (support.openLink != nullptr);

    juce::StringArray opened;
    support.openLink = [&] (const juce::URL& url) { opened.add (url.toString (true)); return LinkOpening::started; };

    click (button (support, "DISCORD"));
    click (button (support, "DISCORD"));
    click (button (support, "MAIL"));

    juce::TextButton stranger;
    stranger.setName ("WEBSITE");
    support.buttonClicked (&stranger);
    stranger.setName ("discord");
    support.buttonClicked (&stranger);

    EXPECT_EQ (opened, juce::StringArray ({ Product::discordUrl, Product::discordUrl, Product::supportMailUrl }));
    EXPECT_TRUE (juce::String (Product::discordUrl).startsWith ("https://discord."));
    EXPECT_TRUE (juce::String (Product::supportMailUrl).startsWith ("mailto:"));
    EXPECT_EQ (support.getParentComponent(), &parent);
}

// The panel covers the main window's hint line: a link that started nothing
// says so in the same place, and the next one that starts clears it.
TEST (Panels, SupportLinksThatStartNothingSaySoWhereTheHintLineIs)
{
    ScopedDefaultLookAndFeel lnf;
    juce::Component parent;
    panel_support support;
    parent.addAndMakeVisible (support);
    support.scale = 6.0f;
    support.setBounds (0, 0, 600, 600);

    LinkOpening opening = LinkOpening::started;
    support.openLink = [&] (const juce::URL&) { return opening; };

    const auto hintLines = [&]
    {
        juce::StringArray texts;
        for (const auto& e : recordPaint (support))
            if (e.kind == Kind::text && Area (24.0f, 540.0f, 552.0f, 18.0f).contains (e.bounds))
                texts.add (e.text);
        return texts;
    };

    struct Case
    {
        const char* tile;
        LinkOpening opening;
        const char* hint;
    };

    const Case cases[] = {
        { "DISCORD", LinkOpening::started,     "" },
        { "MAIL",    LinkOpening::onClipboard, "Link copied to the clipboard: paste it into your browser" },
        { "DISCORD", LinkOpening::failed,      "The link could not be opened: no browser or mail program started" },
        { "MAIL",    LinkOpening::started,     "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.tile) + " " + juce::String ((int) c.opening));
        opening = c.opening;
        click (button (support, c.tile));
        EXPECT_EQ (support.getLinkHint(), c.hint);
        EXPECT_EQ (hintLines(), *c.hint != 0 ? juce::StringArray (c.hint) : juce::StringArray());
    }
}

TEST (Panels, LicencePaintsTitleThenCloseGlyph)
{
    ScopedDefaultLookAndFeel lnf;
    panel_eula eula ("Agreement");
    eula.scale = 6.0f;
    eula.setBounds (0, 0, 600, 600);

    const auto log = recordPaint (eula);
    LogReader reader { log };
    reader.shape (Kind::fillAll, backgroundColour, { 0, 0, 600, 600 });
    reader.text ("LICENSE AGREEMENT", textColour, 24.0f, { 24.0f, 36.0f });
    closeGlyphAt600 (reader, lnf);
    reader.end();

    // At unit 6.5 the title's start point and baseline are truncated: 26 and 39.
    eula.scale = 6.55f;
    const auto scaled = recordPaint (eula);
    ASSERT_GE (scaled.size(), 2u);
    EXPECT_EQ (scaled[1].origin, juce::Point<float> (26.0f, 39.0f));
    EXPECT_NEAR (scaled[1].fontHeight, 26.2f, 0.001f);
}

TEST (Panels, SupportPaintsTilesTextsAndTheAboutSectionInOrder)
{
    ScopedDefaultLookAndFeel lnf;
    panel_support support;
    support.scale = 6.0f;
    support.settingsFolder = juce::File ("/opt/Oakhaze");
    support.setBounds (0, 0, 600, 600);

    const auto idleTile = mutedColour.withAlpha ((juce::uint8) 0x80);
    const auto discordIcon = loadIcon (BinaryData::icon_discord_svg, BinaryData::icon_discord_svgSize);
    const auto mailIcon = loadIcon (BinaryData::icon_mail_svg, BinaryData::icon_mail_svgSize);

    const auto discordLines = fittedLines (lnf.font (18.0f), discordText, { 132, 90, 420, 180 }, 20);
    const auto mailLines = fittedLines (lnf.font (18.0f), mailText, { 132, 210, 420, 180 }, 20);
    const auto aboutLines = fittedLines (lnf.font (18.0f), support.getAboutText(), { 60, 390, 480, 180 }, 20);

    // The quoted texts are what the painted lines add up to.
    EXPECT_EQ (joined (discordLines), discordText);
    EXPECT_EQ (joined (mailLines), mailText);
    ASSERT_GE (aboutLines.size(), 2u);
    EXPECT_EQ (aboutLines[0].text, "The Oakhaze Plugin Manager v" OH_PROJECT_VERSION " cross-platform installater.");
    EXPECT_TRUE (aboutLines[1].text.startsWith ("Feel free to drop us a line")) << "the line feed starts a line";
    EXPECT_TRUE (aboutLines.back().text.endsWith (juce::File ("/opt/Oakhaze").getFullPathName() + "/PluginManagerSettings.txt"));

    const auto log = recordPaint (support);
    LogReader reader { log };

    reader.shape (Kind::fillAll, backgroundColour, { 0, 0, 600, 600 });
    closeGlyphAt600 (reader, lnf);

    reader.textIn ("DISCORD", textColour, lnf.font (30.0f), { 60, 42, 480, 60 }, juce::Justification::centredLeft);
    reader.shape (Kind::roundedRect, idleTile, { 60, 90, 60, 60 }, 6.0f);
    reader.drawable (recordDrawable (*discordIcon, { 72, 102, 36, 36 }, { 0, 0, 600, 600 }));
    reader.lines (discordLines, mutedColour, 18.0f);

    reader.textIn ("E-MAIL", textColour, lnf.font (30.0f), { 60, 162, 480, 60 }, juce::Justification::centredLeft);
    reader.shape (Kind::roundedRect, idleTile, { 60, 210, 60, 60 }, 6.0f);
    reader.drawable (recordDrawable (*mailIcon, { 72, 222, 36, 36 }, { 0, 0, 600, 600 }));
    reader.lines (mailLines, mutedColour, 18.0f);

    reader.textIn ("ABOUT OAKHAZE PLUGIN MANAGER", mutedColour, lnf.font (18.0f), { 60, 342, 480, 60 },
                   juce::Justification::centredLeft);
    reader.lines (aboutLines, mutedColour, 18.0f);
    reader.text (juce::String (juce::CharPointer_UTF8 ("\xc2\xa9 2026 Oakhaze, Inc.")), mutedColour, 18.0f, { 60.0f, 528.0f });
    reader.end();
}

TEST (Panels, AboutTextIsBuiltFromTheSettingsFolderAtEveryPaint)
{
    ScopedDefaultLookAndFeel lnf;
    panel_support support;
    support.scale = 6.0f;
    support.setBounds (0, 0, 600, 600);

    auto lastAboutLine = [&]
    {
        const auto log = recordPaint (support);
        return log.size() >= 2 ? log[log.size() - 2].text : juce::String();
    };

    support.settingsFolder = juce::File ("/opt/Oakhaze");
    EXPECT_EQ (support.getAboutText(),
               "The Oakhaze Plugin Manager v" OH_PROJECT_VERSION " cross-platform installater. \nFeel free to drop us a line if you have "
               "any suggestions or questions concerning its use. You can edit the default installation paths in the "
               "text file found at " + juce::File ("/opt/Oakhaze").getFullPathName() + "/PluginManagerSettings.txt");
    EXPECT_TRUE (lastAboutLine().endsWith (juce::File ("/opt/Oakhaze").getFullPathName() + "/PluginManagerSettings.txt")) << lastAboutLine();

    support.settingsFolder = juce::File ("/srv/elsewhere");
    EXPECT_TRUE (lastAboutLine().endsWith (juce::File ("/srv/elsewhere").getFullPathName() + "/PluginManagerSettings.txt")) << lastAboutLine();
}

TEST (Panels, TileAndCloseGlyphColoursFollowTheMouse)
{
    const struct { bool down, over; juce::Colour tile; } table[] = {
        { false, false, juce::Colour (0x80aaa6a6) },
        { false, true,  juce::Colour (0xbfaaa6a6) },
        { true,  true,  accentColour },
        { true,  false, accentColour },
    };

    for (auto& row : table)
        EXPECT_EQ (PanelLook::tileColour (row.down, row.over), row.tile) << row.down << row.over;

    EXPECT_EQ (PanelLook::closeGlyphColour (true), mutedColour);
    EXPECT_EQ (PanelLook::closeGlyphColour (false), juce::Colour (0x80aaa6a6));
}

TEST (Panels, ResultCardPaintsBlackFillOutlineIconAndMessage)
{
    ScopedDefaultLookAndFeel lnf;

    const struct { bool success; const char* message; const char* icon; int iconSize; } table[] = {
        { true,  "Operation Successful!", BinaryData::icon_success_svg, BinaryData::icon_success_svgSize },
        { false, "Operation failed!",     BinaryData::icon_warning_svg, BinaryData::icon_warning_svgSize },
    };

    for (auto& row : table)
    {
        SCOPED_TRACE (row.message);
        panel_success result;
        result.scale = 6.0f;
        result.success = row.success;
        result.setBounds (0, 0, 600, 600);

        const auto log = recordPaint (result);
        LogReader reader { log };
        reader.shape (Kind::roundedRect, juce::Colours::black, { 210, 210, 180, 180 }, 6.0f);
        reader.shape (Kind::outline, textColour, Area (210, 210, 180, 180).expanded (0.75f), 1.5f);
        reader.drawable (recordDrawable (*loadIconAsDrawn (row.icon, row.iconSize), { 258, 258, 84, 84 }, { 0, 0, 600, 600 }));
        reader.textIn (row.message, juce::Colours::white, lnf.font (18.0f), { 222, 222, 156, 156 },
                       juce::Justification::centredBottom);
        reader.end();
    }

    // A panel smaller than its margins keeps an empty card instead of a negative one.
    panel_success tiny;
    tiny.scale = 6.0f;
    tiny.setBounds (0, 0, 60, 500);
    const auto log = recordPaint (tiny);
    ASSERT_FALSE (log.empty());
    EXPECT_EQ (log[0].bounds.getWidth(), 0.0f);
}

//==============================================================================
TEST (Panels, SnapshotsShowWhatThePaintLogsSay)
{
    ScopedDefaultLookAndFeel lnf;

    auto near = [] (juce::Colour a, juce::Colour b)
    {
        return std::abs (a.getRed() - b.getRed()) <= 2 && std::abs (a.getGreen() - b.getGreen()) <= 2
            && std::abs (a.getBlue() - b.getBlue()) <= 2 && std::abs (a.getAlpha() - b.getAlpha()) <= 2;
    };

    // Result card: nothing outside it, black inside, the outline on its edge.
    panel_success result;
    result.scale = 6.0f;
    result.setBounds (0, 0, 600, 600);
    const auto card = result.createComponentSnapshot (result.getLocalBounds());
    EXPECT_EQ (card.getPixelAt (100, 100).getAlpha(), 0);
    EXPECT_EQ (card.getPixelAt (215, 300), juce::Colours::black);
    EXPECT_GT (card.getPixelAt (210, 300).getBrightness(), 0.6f) << "outline on the card's edge";
    EXPECT_EQ (card.getPixelAt (208, 300).getAlpha(), 0);

    // Support panel: background, an idle tile's corner, and the icon in the tile's middle.
    panel_support support;
    support.scale = 6.0f;
    support.setBounds (0, 0, 600, 600);
    const auto face = support.createComponentSnapshot (support.getLocalBounds());
    const auto idleTile = backgroundColour.overlaidWith (mutedColour.withAlpha ((juce::uint8) 0x80));
    EXPECT_EQ (face.getPixelAt (300, 20), backgroundColour);
    EXPECT_TRUE (near (face.getPixelAt (64, 94), idleTile)) << face.getPixelAt (64, 94).toDisplayString (true);
    EXPECT_TRUE (near (face.getPixelAt (115, 145), idleTile));

    // Licence panel: the editor's text is muted on the background, with no frame
    // around it; a text that fills the panel whatever the product's licence.
    panel_eula eula (juce::String::repeatedString ("THE TERMS OF THIS AGREEMENT APPLY. ", 120));
    eula.scale = 6.0f;
    eula.setBounds (0, 0, 600, 600);
    const auto licence = eula.createComponentSnapshot (eula.getLocalBounds());
    int mutedPixels = 0;
    for (int y = 72; y < 552; ++y)
        for (int x = 24; x < 560; ++x)
            mutedPixels += near (licence.getPixelAt (x, y), mutedColour) ? 1 : 0;

    EXPECT_GT (mutedPixels, 300);
    EXPECT_EQ (licence.getPixelAt (24, 300), backgroundColour);
    EXPECT_EQ (licence.getPixelAt (300, 551), backgroundColour);
}
