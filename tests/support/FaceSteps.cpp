#include "support/FaceSteps.h"

#include "BinaryData.h"
#include "Status.h"
#include "support/FaceTables.h"

#include <gtest/gtest.h>

namespace
{
    using Kind = DrawEntry::Kind;

    juce::Typeface::Ptr regularFace()
    {
        static CustomLookAndFeel lf;
        return lf.regularTypeface;
    }

    std::unique_ptr<juce::Drawable> icon (const char* data, int size)
    {
        auto d = juce::Drawable::createFromImageData (data, (size_t) size);
        d->replaceColour (juce::Colours::black, FaceTables::ink);
        return d;
    }

    struct Builder
    {
        float s;
        std::vector<FaceStep> steps;

        juce::Font font (float units) const   { return juce::Font (regularFace()).withHeight (units * s); }

        void shape (const juce::String& label, Kind kind, juce::Colour c, juce::Rectangle<float> bounds,
                    float corner = 0.0f, float thickness = 0.0f)
        {
            DrawEntry e;
            e.kind = kind;
            e.colour = c;
            e.bounds = bounds;
            e.cornerSize = corner;
            e.thickness = thickness;
            steps.push_back ({ label, e });
        }

        void text (const juce::String& label, juce::Colour c, float units, const juce::String& t,
                   juce::Rectangle<float> area, juce::Justification j)
        {
            const auto f = font (units);
            const auto [shown, origin] = RecordingGraphics::expectedText (f, t, area, j);
            word (label, c, units, shown, origin);
        }

        void word (const juce::String& label, juce::Colour c, float units, const juce::String& t, juce::Point<float> origin)
        {
            DrawEntry e;
            e.kind = Kind::text;
            e.colour = c;
            e.text = t;
            e.origin = origin;
            e.fontHeight = font (units).getHeight();
            e.typefaceName = regularFace()->getName();
            e.typefaceStyle = regularFace()->getStyle();
            steps.push_back ({ label, e });
        }

        void drawable (const juce::String& label, const char* data, int size, juce::Rectangle<float> area)
        {
            auto d = icon (data, size);
            const auto log = RecordingGraphics::record ({ 0, 0, 2000, 2000 }, [&] (juce::Graphics& g)
            {
                d->drawWithin (g, area, juce::RectanglePlacement::centred, 1.0f);
            });

            for (auto& e : log)
                steps.push_back ({ label, e });
        }
    };

    juce::Rectangle<float> reduced (juce::Rectangle<float> b, float d)
    {
        return { b.getX() + d, b.getY() + d, juce::jmax (0.0f, b.getWidth() - 2 * d), juce::jmax (0.0f, b.getHeight() - 2 * d) };
    }

    juce::Rectangle<float> boundsOf (const FaceState& st, const juce::String& name)
    {
        if (const auto* layout = FaceTables::layoutAt (st.size))
            return layout->children.at (name).toFloat();

        ADD_FAILURE() << "no layout table for size " << st.size;
        return {};
    }

    juce::String describe (const FaceStep& step)
    {
        return step.label + ": " + step.entry.describe();
    }
}

//==============================================================================
std::vector<FaceStep> expectedFace (const FaceState& st)
{
    const auto s = (float) st.size * 0.01f;
    const auto w = (float) st.size, h = (float) st.size;
    const auto muted = FaceTables::muted;
    const auto mutedHalf = muted.withAlpha ((juce::uint8) 128);
    Builder b { s, {} };

    b.shape ("1 background", Kind::fillAll, FaceTables::background, { 0, 0, w, h });
    b.shape ("2 header strip", Kind::rect, FaceTables::brand, { 0, 0, 100 * s, 1 * s });
    b.shape ("3 dot", Kind::ellipse, mutedHalf, { w - 2 * s, h - 2 * s, s, s });
    b.shape ("3 dot", Kind::ellipse, mutedHalf, { w - 2 * s, h - 4 * s, s, s });
    b.shape ("3 dot", Kind::ellipse, mutedHalf, { w - 4 * s, h - 2 * s, s, s });

    const juce::Rectangle<float> titleArea (4 * s, 8 * s, w, 12 * s);
    b.text ("4 title", muted, 9, Product::displayName().toUpperCase(), titleArea, juce::Justification::topLeft);
    b.text ("5 version", mutedHalf, 4, juce::String ("Version ") + Product::version + Product::platformSuffix,
            titleArea, juce::Justification::bottomLeft);

    const auto at = [s] (float x, float y) { return juce::Point<float> ((float) (int) (x * s), (float) (int) (y * s)); };
    b.word ("6 OAK", FaceTables::text, 4, "OAK", at (4, 5));
    b.word ("7 HAZE", muted, 4, "HAZE", at (13, 5));
    b.word ("8 PLUGIN MANAGER", mutedHalf, 3, "PLUGIN MANAGER", at (75, 4));
    b.word ("9 manager version", mutedHalf, 2, "v" OH_PROJECT_VERSION, at (75, 6));
    b.word ("10 FORMATS", muted, 4, "FORMATS", at (4, 26));
    b.shape ("10 rule", Kind::rect, muted, { 4 * s, 27.5f * s, 92 * s, 0.25f * s });
    b.word ("11 EXTRAS", muted, 4, "EXTRAS", at (4, 70));
    b.shape ("11 rule", Kind::rect, muted, { 4 * s, 71.5f * s, 92 * s, 0.25f * s });

    struct IconData { const char* data; int size; };
    const IconData extraIcons[] = { { BinaryData::icon_eula_svg, BinaryData::icon_eula_svgSize },
                                    { BinaryData::icon_manual_svg, BinaryData::icon_manual_svgSize },
                                    { BinaryData::icon_web_svg, BinaryData::icon_web_svgSize },
                                    { BinaryData::icon_help_svg, BinaryData::icon_help_svgSize },
                                    { BinaryData::icon_install_svg, BinaryData::icon_install_svgSize } };
    const IconData formatIcons[] = { { BinaryData::icon_vst3_svg, BinaryData::icon_vst3_svgSize },
                                     { BinaryData::icon_clap_svg, BinaryData::icon_clap_svgSize },
                                     { BinaryData::icon_aax_svg, BinaryData::icon_aax_svgSize } };

    const auto tileColour = [&] (const juce::String& name)
    {
        return st.pressed == name ? FaceTables::accent
                                  : muted.withAlpha ((juce::uint8) (st.hovered == name ? 191 : 128));
    };

    for (int j = 0; j < 5; ++j)
    {
        const auto name = j < 4 ? extraNames[j] : juce::String ("INSTALL");
        const auto caption = j < 4 ? name : (st.shiftDown ? "UNINSTALL" : "INSTALL");
        const auto bounds = boundsOf (st, name);
        const auto step = juce::String (j < 4 ? "12 " : "13 ") + name;

        b.shape (step + " tile", Kind::roundedRect, tileColour (name), bounds, s);
        b.drawable (step + " icon", extraIcons[j].data, extraIcons[j].size, reduced (bounds, (j < 4 ? 2.0f : 1.5f) * s));
        b.text (step + " caption", muted, 2.5f, caption, bounds.withY (bounds.getY() + 3.5f * s), juce::Justification::centredBottom);
    }

    {
        const auto bounds = boundsOf (st, "SELECT_ALL");
        const auto pressed = st.pressed == "SELECT_ALL";
        b.shape ("14 SELECT ALL tile", Kind::roundedRect, pressed ? FaceTables::accent : muted.withAlpha ((juce::uint8) 26), bounds, s);
        b.text ("14 SELECT ALL caption", pressed ? FaceTables::ink : muted, 3, "SELECT ALL", bounds, juce::Justification::centred);
    }

    for (int k = 0; k < numFormats; ++k)
    {
        const auto name = formatNames[k];
        const auto bounds = boundsOf (st, name);
        const auto hovered = st.hovered == name;
        const auto& status = st.status[(size_t) k];
        const auto fill = status.installed ? FaceTables::brand.withAlpha ((juce::uint8) (hovered ? 255 : 230))
                                           : muted.withAlpha ((juce::uint8) (hovered ? 128 : 89));
        const auto step = "15 " + name;

        b.shape (step + " tile", Kind::roundedRect, fill, bounds, s);

        if (st.selected[(size_t) k])
            b.shape (step + " outline", Kind::outline, FaceTables::selection, bounds.expanded (0.25f * s), 0.0f, 0.5f * s);

        const juce::Rectangle<float> textArea (bounds.getX() + 1.5f * s + 10 * s, bounds.getY() + 1.5f * s,
                                               juce::jmax (0.0f, bounds.getWidth() - 3 * s), juce::jmax (0.0f, bounds.getHeight() - 3 * s));
        b.text (step + " name", FaceTables::background, 3.5f, name, textArea, juce::Justification::topLeft);
        b.text (step + " status", FaceTables::background, 3, status.text, textArea, juce::Justification::bottomLeft);
        b.drawable (step + " icon", formatIcons[k].data, formatIcons[k].size,
                    { bounds.getX() + s, bounds.getY() + s, 8 * s, juce::jmax (0.0f, bounds.getHeight() - 2 * s) });
    }

    return b.steps;
}

std::vector<DrawEntry> recordFace (MainComponent& main)
{
    return RecordingGraphics::record (main.getLocalBounds(), [&] (juce::Graphics& g) { main.paint (g); });
}

PerFormat<FormatStatus> statusOnDisk (const MainComponent& main)
{
    PerFormat<FormatStatus> result;
    for (int k = 0; k < numFormats; ++k)
        result[(size_t) k] = probeFormatStatus (main.getFormatFolders()[(size_t) k], Product::displayName(), k);
    return result;
}

void expectFace (const std::vector<DrawEntry>& actual, const std::vector<FaceStep>& expected)
{
    const auto near = [] (juce::Rectangle<float> a, juce::Rectangle<float> b, float tolerance)
    {
        return std::abs (a.getX() - b.getX()) <= tolerance && std::abs (a.getY() - b.getY()) <= tolerance
            && std::abs (a.getWidth() - b.getWidth()) <= tolerance && std::abs (a.getHeight() - b.getHeight()) <= tolerance;
    };

    for (size_t i = 0; i < expected.size(); ++i)
    {
        ASSERT_LT (i, actual.size()) << "paint ended before " << describe (expected[i]);

        const auto& want = expected[i].entry;
        const auto& got = actual[i];
        const auto where = "entry " + juce::String ((int) i) + ", step " + describe (expected[i]) + "\n  painted: " + got.describe();

        ASSERT_EQ (got.kind, want.kind) << where;
        ASSERT_EQ (got.colour, want.colour) << where;

        if (want.kind == Kind::text)
        {
            ASSERT_EQ (got.text, want.text) << where;
            ASSERT_NEAR (got.origin.x, want.origin.x, 0.01f) << where;
            ASSERT_NEAR (got.origin.y, want.origin.y, 0.01f) << where;
            ASSERT_FLOAT_EQ (got.fontHeight, want.fontHeight) << where;
            ASSERT_EQ (got.typefaceName, want.typefaceName) << where;
            ASSERT_EQ (got.typefaceStyle, want.typefaceStyle) << where;
            continue;
        }

        // Outlines are measured from the stroked shape; everything else is exact.
        ASSERT_TRUE (near (got.bounds, want.bounds, want.kind == Kind::outline ? 0.05f : 0.001f)) << where;

        if (want.kind == Kind::roundedRect)
        {
            ASSERT_NEAR (got.cornerSize, want.cornerSize, 0.001f) << where;
        }

        if (want.kind == Kind::outline && want.thickness > 0.0f)
        {
            ASSERT_NEAR (got.thickness, want.thickness, 0.05f) << where;
        }
    }

    EXPECT_EQ (actual.size(), expected.size()) << "painted more than the steps ask for";
}
