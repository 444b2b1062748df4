#include "CustomLookAndFeel.h"
#include "Palette.h"
#include "support/ScopedDefaultLookAndFeel.h"

#include <gtest/gtest.h>

using namespace Palette;

TEST (LookAndFeel, ColourAssignmentsOverTheDarkScheme)
{
    CustomLookAndFeel lnf;

    const struct { int id; int numericId; juce::Colour expected; } table[] = {
        { juce::PopupMenu::backgroundColourId,            0x1000700, backgroundColour },
        { juce::PopupMenu::highlightedBackgroundColourId, 0x1000900, accentColour.withAlpha ((juce::uint8) 0x80) },
        { juce::PopupMenu::textColourId,                  0x1000600, textColour },
        { juce::PopupMenu::highlightedTextColourId,       0x1000800, textColour },
        { juce::AlertWindow::backgroundColourId,          0x1001800, backgroundColour },
        { juce::AlertWindow::textColourId,                0x1001810, mutedColour },
        { juce::PropertyComponent::labelTextColourId,     0x1008301, accentColour.withAlpha ((juce::uint8) 0x80) },
        { juce::ScrollBar::thumbColourId,                 0x1000400, mutedColour },
        { juce::ResizableWindow::backgroundColourId,      0x1005700, backgroundColour },
        { juce::TextEditor::backgroundColourId,           0x1000200, backgroundColour },
        { juce::ListBox::backgroundColourId,              0x1002800, backgroundColour },
        { juce::TextButton::buttonColourId,               0x1000100, backgroundColour },
        { juce::Label::textColourId,                      0x1000281, textColour },
    };

    for (auto& row : table)
    {
        EXPECT_EQ (row.id, row.numericId);
        EXPECT_EQ (lnf.findColour (row.id), row.expected) << juce::String::toHexString (row.numericId);
    }

    EXPECT_EQ (accentColour.withAlpha (0.5f).getAlpha(), 0x80);

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

TEST (LookAndFeel, PopupMenuFontIsThirtyHighWithKerning)
{
    CustomLookAndFeel lnf;
    const auto font = lnf.getPopupMenuFont();

    EXPECT_FLOAT_EQ (font.getHeight(), 30.0f);
    EXPECT_FLOAT_EQ (font.getExtraKerningFactor(), 0.1f);
    EXPECT_FLOAT_EQ (font.getHorizontalScale(), 1.0f);
    EXPECT_EQ (font.getStyleFlags(), juce::Font::plain);
}

TEST (LookAndFeel, ComboBoxIsAnInkPillWithItsTextAcrossTheWholeWidth)
{
    ScopedDefaultLookAndFeel scoped;

    juce::ComboBox box;
    box.addItem ("One", 1);
    box.setSelectedId (1, juce::dontSendNotification);
    box.setBounds (0, 0, 100, 20);

    // The box places its label through the look and feel when it is resized.
    auto* label = dynamic_cast<juce::Label*> (box.getChildComponent (0));
    ASSERT_NE (label, nullptr);
    EXPECT_EQ (label->getBounds(), juce::Rectangle<int> (1, 1, 100, 18));
    EXPECT_FLOAT_EQ (label->getFont().getHeight(), 14.0f);
    EXPECT_EQ (label->getFont().getStyleFlags(), juce::Font::plain);
    EXPECT_EQ (label->getJustificationType(), juce::Justification::centred);

    // Only the pill: no outline and no arrow, pressed or not.
    for (bool isDown : { false, true })
    {
        juce::Image image (juce::Image::ARGB, 100, 20, true);
        juce::Graphics g (image);
        scoped.lookAndFeel.drawComboBox (g, 100, 20, isDown, 80, 0, 20, 20, box);

        EXPECT_EQ (image.getPixelAt (50, 10), inkColour);
        EXPECT_EQ (image.getPixelAt (92, 10), inkColour) << "no arrow";
        EXPECT_EQ (image.getPixelAt (10, 10), inkColour);
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0) << "corner 10 rounds the ends";
        EXPECT_EQ (image.getPixelAt (99, 19).getAlpha(), 0);
        EXPECT_EQ (image.getPixelAt (1, 3).getAlpha(), 0);
    }
}
