#include "CustomLookAndFeel.h"
#include "support/FaceTables.h"
#include "support/ScopedDefaultLookAndFeel.h"

#include <gtest/gtest.h>

// The palette by its published values, not by the program's own constants.
namespace
{
    const auto backgroundColour = FaceTables::background;
    const auto textColour = FaceTables::text;
    const auto mutedColour = FaceTables::muted;
}

// The colours of what the program shows through the look and feel: the window's
// background, the licence text's editor and its scroll bar, and labels.
TEST (LookAndFeel, ColourAssignmentsOverTheDarkScheme)
{
    CustomLookAndFeel lnf;

    const struct { const char* what; int id; juce::Colour expected; } table[] = {
        { "window background",  juce::ResizableWindow::backgroundColourId, backgroundColour },
        { "editor background",  juce::TextEditor::backgroundColourId,      backgroundColour },
        { "scroll bar thumb",   juce::ScrollBar::thumbColourId,            mutedColour },
        { "label text",         juce::Label::textColourId,                 textColour },
    };

    for (auto& row : table)
        EXPECT_EQ (lnf.findColour (row.id), row.expected) << row.what;

    // Everything else is the dark scheme's.
    juce::LookAndFeel_V4 dark;
    EXPECT_EQ (lnf.findColour (juce::TextEditor::textColourId), dark.findColour (juce::TextEditor::textColourId));
    EXPECT_EQ (lnf.getCurrentColourScheme().getUIColour (juce::LookAndFeel_V4::ColourScheme::windowBackground),
               juce::LookAndFeel_V4::getDarkColourScheme().getUIColour (juce::LookAndFeel_V4::ColourScheme::windowBackground));
}

TEST (LookAndFeel, EveryFontRequestAnswersTheRegularFace)
{
    ScopedDefaultLookAndFeel scoped;
    auto& lnf = scoped.lookAndFeel;

    ASSERT_NE (lnf.regularTypeface, nullptr);
    ASSERT_NE (lnf.boldTypeface, nullptr);
    EXPECT_EQ (lnf.regularTypeface->getName(), "Source Sans Pro");
   #if ! JUCE_WINDOWS   // JUCE's Windows typefaces from memory carry no style
    EXPECT_EQ (lnf.regularTypeface->getStyle(), "Regular");
    EXPECT_EQ (lnf.boldTypeface->getStyle(), "Bold");
   #endif

    const juce::Font requests[] = {
        juce::Font(),
        juce::Font (30.0f, juce::Font::bold),
        juce::Font (12.0f, juce::Font::italic | juce::Font::underlined),
        juce::Font ("DejaVu Serif", 20.0f, juce::Font::plain),
        juce::Font ("Source Sans Pro", "Bold", 14.0f),
    };

    for (auto& font : requests)
    {
        EXPECT_EQ (lnf.getTypefaceForFont (font), lnf.regularTypeface) << font.toString();

        // The framework resolves fonts through the default look and feel.
        EXPECT_EQ (juce::Font (font).getTypefacePtr(), lnf.regularTypeface) << font.toString();
    }
}

TEST (LookAndFeel, BoldRequestDrawsTheSameGlyphsAsPlain)
{
    ScopedDefaultLookAndFeel scoped;

    auto render = [] (int styleFlags)
    {
        juce::Image image (juce::Image::RGB, 200, 40, true);
        juce::Graphics g (image);
        g.setColour (juce::Colours::white);
        g.setFont (juce::Font (28.0f, styleFlags));
        g.drawSingleLineText ("Velquin", 4, 30);
        return image;
    };

    const auto plain = render (juce::Font::plain);
    const auto bold = render (juce::Font::bold);
    const auto boldFace = [&]
    {
        // Proof that the comparison can see a different face.
        juce::Image image (juce::Image::RGB, 200, 40, true);
        juce::Graphics g (image);
        g.setColour (juce::Colours::white);
        g.setFont (juce::Font (scoped.lookAndFeel.boldTypeface).withHeight (28.0f));
        g.drawSingleLineText ("Velquin", 4, 30);
        return image;
    }();

    int differentFromBold = 0, differentFromBoldFace = 0, lit = 0;

    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
        {
            lit += plain.getPixelAt (x, y).getBrightness() > 0.5f ? 1 : 0;
            differentFromBold += plain.getPixelAt (x, y) != bold.getPixelAt (x, y) ? 1 : 0;
            differentFromBoldFace += plain.getPixelAt (x, y) != boldFace.getPixelAt (x, y) ? 1 : 0;
        }

    EXPECT_GT (lit, 100);
    EXPECT_EQ (differentFromBold, 0);
    EXPECT_GT (differentFromBoldFace, 100);
}
