#include "support/RecordingGraphics.h"

#include <gtest/gtest.h>

// The recorder is what the painting tests stand on: it must name each shape,
// its colour and its geometry the way the paint routine asked for it.
TEST (RecordingGraphics, NamesShapesColoursAndGeometry)
{
    const auto log = RecordingGraphics::record ({ 0, 0, 200, 200 }, [] (juce::Graphics& g)
    {
        g.fillAll (juce::Colours::red);
        g.setColour (juce::Colours::green.withAlpha (0.5f));
        g.fillRoundedRectangle ({ 10.0f, 20.0f, 60.0f, 30.0f }, 6.0f);
        g.setColour (juce::Colours::blue);
        g.drawRoundedRectangle ({ 10.0f, 20.0f, 60.0f, 30.0f }, 6.0f, 3.0f);
        g.fillEllipse (100.0f, 100.0f, 12.0f, 12.0f);
        g.fillRect (juce::Rectangle<float> (1.5f, 2.5f, 3.0f, 4.0f));

        juce::Graphics::ScopedSaveState save (g);
        g.setOrigin (5, 7);
        g.fillRect (0, 0, 10, 10);
    });

    ASSERT_EQ (log.size(), 6u);
    EXPECT_EQ (log[0].kind, DrawEntry::Kind::fillAll);
    EXPECT_EQ (log[0].colour, juce::Colours::red);
    EXPECT_EQ (log[0].bounds, juce::Rectangle<float> (0, 0, 200, 200));

    EXPECT_EQ (log[1].kind, DrawEntry::Kind::roundedRect);
    EXPECT_EQ (log[1].colour, juce::Colours::green.withAlpha (0.5f));
    EXPECT_EQ (log[1].bounds, juce::Rectangle<float> (10, 20, 60, 30));
    EXPECT_FLOAT_EQ (log[1].cornerSize, 6.0f);

    EXPECT_EQ (log[2].kind, DrawEntry::Kind::outline);
    EXPECT_NEAR (log[2].thickness, 3.0f, 0.05f);
    EXPECT_NEAR (log[2].bounds.getX(), 8.5f, 0.01f);
    EXPECT_NEAR (log[2].bounds.getWidth(), 63.0f, 0.01f);

    EXPECT_EQ (log[3].kind, DrawEntry::Kind::ellipse);
    EXPECT_EQ (log[3].bounds, juce::Rectangle<float> (100, 100, 12, 12));

    EXPECT_EQ (log[4].kind, DrawEntry::Kind::rect);
    EXPECT_EQ (log[4].bounds, juce::Rectangle<float> (1.5f, 2.5f, 3, 4));
    EXPECT_EQ (log[5].bounds, juce::Rectangle<float> (5, 7, 10, 10));
}

TEST (RecordingGraphics, ReadsTextBackWithBlanksOriginAndHeight)
{
    const juce::Font font (juce::Font (juce::Font::getDefaultSansSerifFontName(), 18.0f, juce::Font::plain));
    const juce::Rectangle<float> area (10.0f, 20.0f, 300.0f, 40.0f);

    const auto log = RecordingGraphics::record ({ 0, 0, 400, 400 }, [&] (juce::Graphics& g)
    {
        g.setFont (font);
        g.setColour (juce::Colours::white);
        g.drawText ("Version 1.0.0 for Windows", area, juce::Justification::bottomLeft, true);
        g.setColour (juce::Colours::yellow);
        g.drawSingleLineText ("OAK", 24, 30);
        g.drawText ("A rather long caption that cannot fit", juce::Rectangle<float> (0, 100, 80, 20),
                    juce::Justification::centred, true);
    });

    ASSERT_EQ (log.size(), 3u);
    const auto expected = RecordingGraphics::expectedText (font, "Version 1.0.0 for Windows", area, juce::Justification::bottomLeft);
    EXPECT_EQ (log[0].kind, DrawEntry::Kind::text);
    EXPECT_EQ (log[0].text, "Version 1.0.0 for Windows");
    EXPECT_EQ (log[0].text, expected.first);
    EXPECT_EQ (log[0].origin, expected.second);
    EXPECT_FLOAT_EQ (log[0].origin.x, 10.0f);
    EXPECT_FLOAT_EQ (log[0].fontHeight, 18.0f);
    EXPECT_EQ (log[0].colour, juce::Colours::white);

    EXPECT_EQ (log[1].text, "OAK");
    EXPECT_EQ (log[1].origin, juce::Point<float> (24.0f, 30.0f));
    EXPECT_EQ (log[1].colour, juce::Colours::yellow);

    EXPECT_TRUE (log[2].text.endsWith ("...")) << log[2].text;
    EXPECT_EQ (log[2].text, RecordingGraphics::expectedText (font, "A rather long caption that cannot fit",
                                                             { 0, 100, 80, 20 }, juce::Justification::centred).first);
}
