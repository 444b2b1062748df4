#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>
#include <vector>

/** One thing a paint routine asked the graphics context to draw, in the
    coordinates of the component that was painted (every origin move and
    transform applied). */
struct DrawEntry
{
    enum class Kind
    {
        fillAll,       ///< Graphics::fillAll: bounds is the clip at that moment
        rect,          ///< a filled rectangle (fillRect, fillRectList, drawRect, addRectangle paths)
        roundedRect,   ///< a filled rounded rectangle; cornerSize holds its corner
        ellipse,       ///< a filled ellipse (fillEllipse)
        outline,       ///< a hollow path, as strokePath and drawRoundedRectangle make; thickness holds its edge width
        path,          ///< any other filled path
        line,          ///< drawLine
        image,         ///< drawImage; bounds is the image's transformed area
        text           ///< a run of glyphs on one baseline, in one font and colour
    };

    Kind kind = Kind::path;
    juce::Colour colour;                 ///< the solid fill, opacity applied; transparent black for gradients and images
    bool isGradient = false;
    float layerOpacity = 1.0f;           ///< product of the open transparency layers
    juce::Rectangle<float> bounds;       ///< what it covers
    juce::Rectangle<float> clip;         ///< the clip at that moment

    float cornerSize = 0.0f;             ///< roundedRect
    float thickness = 0.0f;              ///< outline: the edge width measured across the left side
    juce::Path path;                     ///< the filled path (fills and outlines), in component coordinates

    juce::String text;                   ///< text: the characters, blanks restored from the glyph gaps
    juce::Point<float> origin;           ///< text: pen position of the first glyph (x, baseline)
    float fontHeight = 0.0f;             ///< text: the font height, transform applied
    juce::String typefaceName;           ///< text: the face the glyphs came from
    juce::String typefaceStyle;          ///< text: its style ("Regular", "Bold", ...)

    bool isVisible() const noexcept      { return colour.getAlpha() > 0 && layerOpacity > 0.0f; }
    juce::String describe() const;
};

/** A graphics context that draws nothing and writes down what it is asked to
    draw: fills, outlines, glyph runs and images, each with its colour, bounds and
    (for text) font height and origin. Use it through a juce::Graphics:

        RecordingGraphics recorder ({ 0, 0, 600, 600 });
        juce::Graphics g (recorder);
        component.paint (g);
        auto& log = recorder.getEntries();
*/
class RecordingGraphics final : public juce::LowLevelGraphicsContext
{
public:
    explicit RecordingGraphics (juce::Rectangle<int> area);
    ~RecordingGraphics() override = default;

    /** Everything drawn so far, in order. */
    const std::vector<DrawEntry>& getEntries();

    /** Records what the function draws into a context of the given area. */
    static std::vector<DrawEntry> record (juce::Rectangle<int> area, const std::function<void (juce::Graphics&)>& paint);

    /** Where juce::Graphics::drawText puts the pen of the first visible glyph of
        the text in that area, and which characters survive (ellipsis included). */
    static std::pair<juce::String, juce::Point<float>> expectedText (const juce::Font&, const juce::String&,
                                                                     juce::Rectangle<float> area,
                                                                     juce::Justification, bool useEllipsis = true);

    //==============================================================================
    bool isVectorDevice() const override                                   { return false; }
    void setOrigin (juce::Point<int>) override;
    void addTransform (const juce::AffineTransform&) override;
    float getPhysicalPixelScaleFactor() override;

    bool clipToRectangle (const juce::Rectangle<int>&) override;
    bool clipToRectangleList (const juce::RectangleList<int>&) override;
    void excludeClipRectangle (const juce::Rectangle<int>&) override        {}
    void clipToPath (const juce::Path&, const juce::AffineTransform&) override;
    void clipToImageAlpha (const juce::Image&, const juce::AffineTransform&) override;

    bool clipRegionIntersects (const juce::Rectangle<int>&) override;
    juce::Rectangle<int> getClipBounds() const override;
    bool isClipEmpty() const override;

    void saveState() override;
    void restoreState() override;
    void beginTransparencyLayer (float opacity) override;
    void endTransparencyLayer() override;

    void setFill (const juce::FillType&) override;
    void setOpacity (float) override;
    void setInterpolationQuality (juce::Graphics::ResamplingQuality) override {}

    void fillAll() override;
    void fillRect (const juce::Rectangle<int>&, bool replaceExistingContents) override;
    void fillRect (const juce::Rectangle<float>&) override;
    void fillRectList (const juce::RectangleList<float>&) override;
    void fillPath (const juce::Path&, const juce::AffineTransform&) override;
    void drawImage (const juce::Image&, const juce::AffineTransform&) override;
    void drawLine (const juce::Line<float>&) override;

    void setFont (const juce::Font&) override;
    const juce::Font& getFont() override;
    void drawGlyph (int glyphNumber, const juce::AffineTransform&) override;

private:
    struct State
    {
        juce::AffineTransform transform;
        juce::Rectangle<float> clip;      // in component coordinates
        juce::FillType fill;
        juce::Font font;
        float layerOpacity = 1.0f;
        bool isLayer = false;
    };

    struct Glyph
    {
        int number;
        juce::Point<float> position;
    };

    DrawEntry makeEntry (DrawEntry::Kind, juce::Rectangle<float> bounds) const;
    void add (DrawEntry);
    void flushText();
    juce::Rectangle<float> toComponent (juce::Rectangle<float>) const;

    State state;
    std::vector<State> stack;
    std::vector<DrawEntry> entries;

    std::vector<Glyph> pendingGlyphs;
    DrawEntry pendingText;
    juce::Font pendingFont;

    JUCE_DECLARE_NON_COPYABLE (RecordingGraphics)
};
