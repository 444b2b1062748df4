#include "RecordingGraphics.h"

#include <map>

namespace
{
    using Kind = DrawEntry::Kind;

    const char* kindName (Kind k)
    {
        switch (k)
        {
            case Kind::fillAll:     return "fillAll";
            case Kind::rect:        return "rect";
            case Kind::roundedRect: return "roundedRect";
            case Kind::ellipse:     return "ellipse";
            case Kind::outline:     return "outline";
            case Kind::path:        return "path";
            case Kind::line:        return "line";
            case Kind::image:       return "image";
            case Kind::text:        return "text";
        }

        return "?";
    }

    struct Element
    {
        juce::Path::Iterator::PathElementType type;
        juce::Point<float> end;
    };

    std::vector<Element> elementsOf (const juce::Path& p)
    {
        std::vector<Element> result;
        juce::Path::Iterator it (p);

        while (it.next())
        {
            juce::Point<float> end;

            switch (it.elementType)
            {
                case juce::Path::Iterator::startNewSubPath:
                case juce::Path::Iterator::lineTo:      end = { it.x1, it.y1 }; break;
                case juce::Path::Iterator::quadraticTo: end = { it.x2, it.y2 }; break;
                case juce::Path::Iterator::cubicTo:     end = { it.x3, it.y3 }; break;
                case juce::Path::Iterator::closePath:   break;
            }

            result.push_back ({ it.elementType, end });
        }

        return result;
    }

    bool hasShape (const std::vector<Element>& elements, const char* shape)
    {
        const juce::String s (shape);
        if ((int) elements.size() != s.length())
            return false;

        for (size_t i = 0; i < elements.size(); ++i)
        {
            const auto expected = s[(int) i] == 'M' ? juce::Path::Iterator::startNewSubPath
                                : s[(int) i] == 'L' ? juce::Path::Iterator::lineTo
                                : s[(int) i] == 'C' ? juce::Path::Iterator::cubicTo
                                                    : juce::Path::Iterator::closePath;
            if (elements[i].type != expected)
                return false;
        }

        return true;
    }

    // The width of the filled band met when walking in from the left edge at mid height.
    float leftEdgeThickness (const juce::Path& p, juce::Rectangle<float> b)
    {
        const auto y = b.getCentreY();
        const float step = 1.0f / 64.0f;
        float x = b.getX() + step * 0.5f;

        while (x < b.getCentreX() && ! p.contains (x, y, 0.01f))
            x += step;

        const auto start = x;

        while (x < b.getCentreX() && p.contains (x, y, 0.01f))
            x += step;

        return x - start;
    }

    // Glyph numbers back to characters, for the faces met so far.
    juce::juce_wchar characterOf (const juce::Font& font, int glyph)
    {
        static std::map<juce::String, std::map<int, juce::juce_wchar>> tables;

        auto typeface = font.getTypefacePtr();
        const auto key = typeface != nullptr ? typeface->getName() + "/" + typeface->getStyle() : juce::String();
        auto& table = tables[key];

        if (table.empty())
        {
            juce::String chars;
            for (juce::juce_wchar c = 33; c < 127; ++c)
                chars += juce::String::charToString (c);
            chars += juce::String::charToString ((juce::juce_wchar) 0x2026);
            chars += juce::String::charToString ((juce::juce_wchar) 0xa9);

            juce::Array<int> glyphs;
            juce::Array<float> xs;
            juce::Font (font).withHeight (10.0f).getGlyphPositions (chars, glyphs, xs);

            for (int i = 0; i < glyphs.size() && i < chars.length(); ++i)
                table.emplace (glyphs[i], chars[i]);
        }

        const auto found = table.find (glyph);
        return found != table.end() ? found->second : (juce::juce_wchar) '?';
    }

    juce::String describeColour (juce::Colour c)
    {
        return c.toDisplayString (true);
    }

    juce::String describeRect (juce::Rectangle<float> r)
    {
        return "(" + juce::String (r.getX(), 2) + ", " + juce::String (r.getY(), 2) + ", "
               + juce::String (r.getWidth(), 2) + ", " + juce::String (r.getHeight(), 2) + ")";
    }
}

//==============================================================================
juce::String DrawEntry::describe() const
{
    juce::String s (kindName (kind));
    s << " " << describeColour (colour);

    if (layerOpacity != 1.0f)
        s << " layer " << layerOpacity;

    if (kind == Kind::text)
        return s << " \"" << text << "\" at (" << origin.x << ", " << origin.y << ") height " << fontHeight;

    s << " " << describeRect (bounds);

    if (kind == Kind::roundedRect)
        s << " corner " << cornerSize;

    if (kind == Kind::outline)
        s << " thickness " << thickness;

    return s;
}

//==============================================================================
RecordingGraphics::RecordingGraphics (juce::Rectangle<int> area)
{
    state.clip = area.toFloat();
    state.fill = juce::FillType (juce::Colours::black);
}

const std::vector<DrawEntry>& RecordingGraphics::getEntries()
{
    flushText();
    return entries;
}

std::vector<DrawEntry> RecordingGraphics::record (juce::Rectangle<int> area, const std::function<void (juce::Graphics&)>& paint)
{
    RecordingGraphics recorder (area);
    {
        juce::Graphics g (recorder);
        paint (g);
    }
    return recorder.getEntries();
}

std::pair<juce::String, juce::Point<float>> RecordingGraphics::expectedText (const juce::Font& font, const juce::String& text,
                                                                             juce::Rectangle<float> area,
                                                                             juce::Justification justification, bool useEllipsis)
{
    juce::GlyphArrangement arrangement;
    arrangement.addCurtailedLineOfText (font, text, 0.0f, 0.0f, area.getWidth(), useEllipsis);
    arrangement.justifyGlyphs (0, arrangement.getNumGlyphs(), area.getX(), area.getY(),
                               area.getWidth(), area.getHeight(), justification);

    juce::String shown;
    juce::Point<float> origin;
    bool first = true;

    for (auto& glyph : arrangement)
    {
        shown += juce::String::charToString (glyph.getCharacter());

        if (first && ! glyph.isWhitespace())
        {
            origin = { glyph.getLeft(), glyph.getBaselineY() };
            first = false;
        }
    }

    return { shown.trim(), origin };
}

//==============================================================================
void RecordingGraphics::setOrigin (juce::Point<int> o)
{
    addTransform (juce::AffineTransform::translation ((float) o.x, (float) o.y));
}

void RecordingGraphics::addTransform (const juce::AffineTransform& t)
{
    state.transform = t.followedBy (state.transform);
}

float RecordingGraphics::getPhysicalPixelScaleFactor()
{
    return std::sqrt (std::abs (state.transform.getDeterminant()));
}

juce::Rectangle<float> RecordingGraphics::toComponent (juce::Rectangle<float> r) const
{
    return r.transformedBy (state.transform);
}

bool RecordingGraphics::clipToRectangle (const juce::Rectangle<int>& r)
{
    state.clip = state.clip.getIntersection (toComponent (r.toFloat()));
    return ! state.clip.isEmpty();
}

bool RecordingGraphics::clipToRectangleList (const juce::RectangleList<int>& list)
{
    return clipToRectangle (list.getBounds());
}

void RecordingGraphics::clipToPath (const juce::Path& p, const juce::AffineTransform& t)
{
    state.clip = state.clip.getIntersection (p.getBoundsTransformed (t.followedBy (state.transform)));
}

void RecordingGraphics::clipToImageAlpha (const juce::Image& image, const juce::AffineTransform& t)
{
    state.clip = state.clip.getIntersection (image.getBounds().toFloat().transformedBy (t.followedBy (state.transform)));
}

bool RecordingGraphics::clipRegionIntersects (const juce::Rectangle<int>& r)
{
    return state.clip.intersects (toComponent (r.toFloat()));
}

juce::Rectangle<int> RecordingGraphics::getClipBounds() const
{
    return state.clip.transformedBy (state.transform.inverted()).getSmallestIntegerContainer();
}

bool RecordingGraphics::isClipEmpty() const
{
    return state.clip.isEmpty();
}

void RecordingGraphics::saveState()
{
    stack.push_back (state);
    state.isLayer = false;
}

void RecordingGraphics::restoreState()
{
    flushText();

    if (! stack.empty())
    {
        state = stack.back();
        stack.pop_back();
    }
}

void RecordingGraphics::beginTransparencyLayer (float opacity)
{
    saveState();
    state.layerOpacity *= opacity;
}

void RecordingGraphics::endTransparencyLayer()
{
    restoreState();
}

void RecordingGraphics::setFill (const juce::FillType& f)
{
    state.fill = f;
}

void RecordingGraphics::setOpacity (float o)
{
    state.fill.setOpacity (o);
}

//==============================================================================
DrawEntry RecordingGraphics::makeEntry (DrawEntry::Kind kind, juce::Rectangle<float> bounds) const
{
    DrawEntry e;
    e.kind = kind;
    e.bounds = bounds;
    e.clip = state.clip;
    e.layerOpacity = state.layerOpacity;
    e.isGradient = state.fill.isGradient();
    e.colour = state.fill.isColour() ? state.fill.colour : juce::Colours::transparentBlack;
    return e;
}

void RecordingGraphics::add (DrawEntry e)
{
    flushText();
    entries.push_back (std::move (e));
}

void RecordingGraphics::fillAll()
{
    add (makeEntry (Kind::fillAll, state.clip));
}

void RecordingGraphics::fillRect (const juce::Rectangle<int>& r, bool)
{
    fillRect (r.toFloat());
}

void RecordingGraphics::fillRect (const juce::Rectangle<float>& r)
{
    auto e = makeEntry (Kind::rect, toComponent (r));
    e.path.addRectangle (r);
    e.path.applyTransform (state.transform);
    add (std::move (e));
}

void RecordingGraphics::fillRectList (const juce::RectangleList<float>& list)
{
    for (auto& r : list)
        fillRect (r);
}

void RecordingGraphics::fillPath (const juce::Path& p, const juce::AffineTransform& t)
{
    juce::Path path (p);
    path.applyTransform (t.followedBy (state.transform));
    const auto bounds = path.getBounds();
    const auto elements = elementsOf (path);

    auto e = makeEntry (Kind::path, bounds);

    if (hasShape (elements, "MCLCLCLCZ"))
    {
        e.kind = Kind::roundedRect;
        e.cornerSize = elements[0].end.y - bounds.getY();
    }
    else if (hasShape (elements, "MLLLZ") || hasShape (elements, "MLLLLZ"))
    {
        e.kind = Kind::rect;
    }
    else if (hasShape (elements, "MCCCCZ"))
    {
        e.kind = Kind::ellipse;
    }
    else if (! bounds.isEmpty() && ! path.contains (bounds.getCentre(), 0.01f))
    {
        e.kind = Kind::outline;
        e.thickness = leftEdgeThickness (path, bounds);
    }

    e.path = std::move (path);
    add (std::move (e));
}

void RecordingGraphics::drawImage (const juce::Image& image, const juce::AffineTransform& t)
{
    auto e = makeEntry (Kind::image, image.getBounds().toFloat().transformedBy (t.followedBy (state.transform)));
    e.colour = juce::Colours::transparentBlack;
    add (std::move (e));
}

void RecordingGraphics::drawLine (const juce::Line<float>& l)
{
    const auto a = l.getStart().transformedBy (state.transform);
    const auto b = l.getEnd().transformedBy (state.transform);
    add (makeEntry (Kind::line, juce::Rectangle<float> (a, b)));
}

void RecordingGraphics::setFont (const juce::Font& f)
{
    state.font = f;
}

const juce::Font& RecordingGraphics::getFont()
{
    return state.font;
}

//==============================================================================
void RecordingGraphics::drawGlyph (int glyphNumber, const juce::AffineTransform& t)
{
    const auto full = t.followedBy (state.transform);
    const juce::Point<float> position (full.getTranslationX(), full.getTranslationY());
    const auto height = state.font.getHeight() * std::sqrt (std::abs (state.transform.getDeterminant()));
    const auto colour = state.fill.isColour() ? state.fill.colour : juce::Colours::transparentBlack;

    const bool continues = ! pendingGlyphs.empty()
                           && pendingText.colour == colour
                           && pendingText.fontHeight == height
                           && pendingText.typefaceName == state.font.getTypefaceName()
                           && pendingText.layerOpacity == state.layerOpacity
                           && pendingGlyphs.back().position.y == position.y
                           && pendingGlyphs.back().position.x < position.x;

    if (! continues)
    {
        flushText();
        pendingText = makeEntry (Kind::text, {});
        pendingText.fontHeight = height;
        pendingText.typefaceName = state.font.getTypefaceName();
        pendingText.typefaceStyle = state.font.getTypefaceStyle();
        pendingText.origin = position;
        pendingFont = state.font;
    }

    pendingGlyphs.push_back ({ glyphNumber, position });
}

void RecordingGraphics::flushText()
{
    if (pendingGlyphs.empty())
        return;

    // Blanks are not drawn; put them back where the pen jumps further than the
    // previous glyph's advance.
    const auto font = pendingFont.withHeight (pendingText.fontHeight);
    const auto spaceWidth = font.getStringWidthFloat (" ");
    juce::String text;
    float right = pendingGlyphs.front().position.x;

    for (auto& glyph : pendingGlyphs)
    {
        if (! text.isEmpty() && glyph.position.x - right > spaceWidth * 0.5f)
            text += " ";

        const auto c = characterOf (font, glyph.number);
        text += juce::String::charToString (c);
        right = glyph.position.x + font.getStringWidthFloat (juce::String::charToString (c));
    }

    pendingText.text = text;
    pendingText.bounds = { pendingGlyphs.front().position.x, pendingText.origin.y - font.getAscent(),
                           right - pendingGlyphs.front().position.x, font.getHeight() };

    auto e = std::move (pendingText);
    pendingGlyphs.clear();
    pendingText = {};
    entries.push_back (std::move (e));
}
