#include "BinaryData.h"
#include "Palette.h"
#include "support/DemoFacts.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <stdexcept>

// The embedded icons and fonts, read the way the program reads them: icons
// through Drawable::createFromImageData and replaceColour, checked on the
// pixels they render to; fonts through createSystemTypefaceFor.
namespace
{
struct IconCase
{
    const char* file;
    const char* data;
    int size;
    int viewBox;        // 32 or 256
};

std::vector<IconCase> iconCases()
{
    using namespace BinaryData;
    return {
        { "icon_vst3.svg",    icon_vst3_svg,    icon_vst3_svgSize,    32 },
        { "icon_clap.svg",    icon_clap_svg,    icon_clap_svgSize,    32 },
        { "icon_aax.svg",     icon_aax_svg,     icon_aax_svgSize,     32 },
        { "icon_auv2.svg",    icon_auv2_svg,    icon_auv2_svgSize,    32 },
        { "icon_auv3.svg",    icon_auv3_svg,    icon_auv3_svgSize,    32 },
        { "icon_lv2.svg",     icon_lv2_svg,     icon_lv2_svgSize,     32 },
        { "icon_eula.svg",    icon_eula_svg,    icon_eula_svgSize,    256 },
        { "icon_manual.svg",  icon_manual_svg,  icon_manual_svgSize,  256 },
        { "icon_web.svg",     icon_web_svg,     icon_web_svgSize,     256 },
        { "icon_help.svg",    icon_help_svg,    icon_help_svgSize,    256 },
        { "icon_install.svg", icon_install_svg, icon_install_svgSize, 256 },
        { "icon_discord.svg", icon_discord_svg, icon_discord_svgSize, 256 },
        { "icon_mail.svg",    icon_mail_svg,    icon_mail_svgSize,    256 },
        { "icon_success.svg", icon_success_svg, icon_success_svgSize, 256 },
        { "icon_warning.svg", icon_warning_svg, icon_warning_svgSize, 256 },
    };
}

const IconCase& iconNamed (const juce::String& file)
{
    static const auto cases = iconCases();

    for (auto& c : cases)
        if (file == c.file)
            return c;

    throw std::logic_error ("no such icon");
}

std::unique_ptr<juce::Drawable> load (const IconCase& icon)
{
    return juce::Drawable::createFromImageData (icon.data, (size_t) icon.size);
}

std::unique_ptr<juce::Drawable> loadRecoloured (const IconCase& icon)
{
    auto drawable = load (icon);

    if (drawable != nullptr)
        drawable->replaceColour (juce::Colours::black, Palette::inkColour);

    return drawable;
}

// Fitted into a transparent square, as the tiles fit them.
juce::Image render (juce::Drawable& drawable, int side = 256)
{
    juce::Image image (juce::Image::ARGB, side, side, true);
    juce::Graphics g (image);
    drawable.drawWithin (g, { 0.0f, 0.0f, (float) side, (float) side }, juce::RectanglePlacement::centred, 1.0f);
    return image;
}

int countPixels (const juce::Image& image, const std::function<bool (juce::Colour)>& matches)
{
    int n = 0;

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (matches (image.getPixelAt (x, y)))
                ++n;

    return n;
}

bool opaque (juce::Colour c, juce::uint8 r, juce::uint8 g, juce::uint8 b)
{
    return c.getAlpha() == 255 && c.getRed() == r && c.getGreen() == g && c.getBlue() == b;
}

bool isInk (juce::Colour c)         { return c == Palette::inkColour; }
bool isPureBlack (juce::Colour c)   { return c == juce::Colours::black; }

juce::String textOf (const IconCase& icon)
{
    return juce::String::fromUTF8 (icon.data, icon.size);
}

juce::File sourceFolder()
{
    return buildMachineFile (__FILE__).getParentDirectory().getSiblingFile ("resources");
}
}

TEST (Icons, EveryIconIsADrawableInItsViewBoxWithItsLineEnds)
{
    for (auto& icon : iconCases())
    {
        SCOPED_TRACE (icon.file);

        auto drawable = load (icon);
        ASSERT_NE (drawable, nullptr);
        EXPECT_FALSE (drawable->getDrawableBounds().isEmpty());

        auto text = textOf (icon);
        auto xml = juce::parseXML (text);
        ASSERT_NE (xml, nullptr);
        EXPECT_TRUE (xml->hasTagName ("svg"));
        EXPECT_FALSE (text.contains ("<text"));

        const auto side = juce::String (icon.viewBox);
        EXPECT_EQ (xml->getStringAttribute ("viewBox"), "0 0 " + side + " " + side);

        // CR LF throughout; the 32 x 32 files end with one CR LF after the
        // closing tag, the 256 x 256 files with the closing tag itself
        EXPECT_FALSE (text.replace ("\r\n", "").containsAnyOf ("\r\n"));

        if (icon.viewBox == 32)
        {
            EXPECT_TRUE (text.endsWith ("</svg>\r\n"));
            EXPECT_FALSE (text.endsWith ("\r\n\r\n"));
        }
        else
        {
            EXPECT_TRUE (text.endsWith ("</svg>"));

            // everything drawn in the 90 x 90 space that one group places
            auto* group = xml->getChildByName ("g");
            ASSERT_NE (group, nullptr);
            EXPECT_EQ (group->getStringAttribute ("transform"), "translate(1.4066 1.4066) scale(2.81 2.81)");
            EXPECT_EQ (xml->getNumChildElements() - (xml->getChildByName ("defs") != nullptr ? 1 : 0), 1);
        }
    }
}

TEST (Icons, EachFormatIconShowsOnlyItsOwnLayerThroughItsStyleClasses)
{
    const juce::StringArray formats { "vst3", "clap", "aax", "auv2", "auv3", "lv2" };
    std::vector<juce::Image> renders;

    for (auto& format : formats)
    {
        auto& icon = iconNamed ("icon_" + format + ".svg");
        SCOPED_TRACE (icon.file);

        // every layer is in the file; nothing but a class rule hides one
        auto xml = juce::parseXML (textOf (icon));
        ASSERT_NE (xml, nullptr);
        ASSERT_NE (xml->getChildByName ("style"), nullptr);
        EXPECT_TRUE (xml->getChildByName ("style")->getAllSubText().contains ("display"));

        int layers = 0;
        for (auto* group : xml->getChildWithTagNameIterator ("g"))
        {
            ++layers;
            EXPECT_TRUE (group->hasAttribute ("class"));
            EXPECT_FALSE (group->hasAttribute ("display"));
            EXPECT_FALSE (group->hasAttribute ("style"));
        }
        EXPECT_EQ (layers, formats.size());

        auto drawable = loadRecoloured (icon);
        ASSERT_NE (drawable, nullptr);

        juce::StringArray visible;
        for (auto* child : drawable->getChildren())
            if (child->isVisible())
                visible.add (child->getName());

        EXPECT_EQ (visible.joinIntoString (", ").toStdString(), ("layer-" + format).toStdString());
        renders.push_back (render (*drawable, 96));
    }

    // and the six files really draw six different marks
    for (size_t a = 0; a < renders.size(); ++a)
    {
        for (size_t b = a + 1; b < renders.size(); ++b)
        {
            int differing = 0;
            for (int y = 0; y < 96; ++y)
                for (int x = 0; x < 96; ++x)
                    differing += renders[a].getPixelAt (x, y) != renders[b].getPixelAt (x, y) ? 1 : 0;

            EXPECT_GT (differing, 96 * 96 / 100) << formats[(int) a] << " vs " << formats[(int) b];
        }
    }
}

TEST (Icons, RecolouringTurnsBlackAndUnfilledShapesIntoInk)
{
    // format marks have no fill (LV2: black strokes); the others fill black
    for (auto* file : { "icon_vst3.svg", "icon_clap.svg", "icon_aax.svg", "icon_auv2.svg", "icon_auv3.svg",
                        "icon_lv2.svg", "icon_eula.svg", "icon_manual.svg", "icon_web.svg", "icon_help.svg",
                        "icon_install.svg", "icon_discord.svg" })
    {
        SCOPED_TRACE (file);
        auto& icon = iconNamed (file);

        auto plain = render (*load (icon));
        auto inked = render (*loadRecoloured (icon));

        EXPECT_GT (countPixels (plain, isPureBlack), 1000);
        EXPECT_EQ (countPixels (plain, isInk), 0);
        EXPECT_GT (countPixels (inked, isInk), 1000);

        // no black is left, apart from the licence icon's gradient
        if (juce::String (file) != "icon_eula.svg")
        {
            EXPECT_EQ (countPixels (inked, isPureBlack), 0);
        }
    }
}

TEST (Icons, RecolouringLeavesTheGradientMailAndResultColours)
{
    // The licence page's folded corner runs from white to black and keeps
    // both ends: pixels darker than ink can only come from that gradient.
    {
        auto inked = render (*loadRecoloured (iconNamed ("icon_eula.svg")));
        EXPECT_GT (countPixels (inked, [] (juce::Colour c)
                                { return c.getAlpha() == 255 && c.getRed() < 0x17 && c.getGreen() < 0x17 && c.getBlue() < 0x17; }), 0);
        EXPECT_GT (countPixels (inked, [] (juce::Colour c)
                                { return c.getAlpha() == 255 && c.getRed() > 0xe0 && c.getGreen() > 0xe0 && c.getBlue() > 0xe0; }), 0);
    }

    // the envelope's own near-black is not pure black and stays
    {
        auto inked = render (*loadRecoloured (iconNamed ("icon_mail.svg")));
        EXPECT_GT (countPixels (inked, [] (juce::Colour c) { return opaque (c, 29, 29, 27); }), 1000);
        EXPECT_EQ (countPixels (inked, isInk), 0);
        EXPECT_EQ (countPixels (inked, isPureBlack), 0);
    }

    // the result icons hold no black at all: recolouring changes no pixel
    struct Result { const char* file; juce::uint8 r, g, b; };
    for (auto result : { Result { "icon_success.svg", 40, 201, 55 }, Result { "icon_warning.svg", 255, 170, 0 } })
    {
        SCOPED_TRACE (result.file);
        auto& icon = iconNamed (result.file);
        auto plain = render (*load (icon));
        auto recoloured = render (*loadRecoloured (icon));

        int differing = 0;
        for (int y = 0; y < plain.getHeight(); ++y)
            for (int x = 0; x < plain.getWidth(); ++x)
                differing += plain.getPixelAt (x, y) != recoloured.getPixelAt (x, y) ? 1 : 0;

        EXPECT_EQ (differing, 0);
        EXPECT_GT (countPixels (plain, [&] (juce::Colour c) { return opaque (c, result.r, result.g, result.b); }), 10000);
        EXPECT_GT (countPixels (plain, [] (juce::Colour c) { return opaque (c, 255, 255, 255); }), 1000);
        EXPECT_EQ (countPixels (plain, isInk), 0);
    }
}

TEST (Catalogue, BothFontsBecomeSourceSansProTypefaces)
{
    struct FontCase { const char* data; int size; const char* style; };

    for (auto font : { FontCase { BinaryData::SourceSansProRegular_ttf, BinaryData::SourceSansProRegular_ttfSize, "Regular" },
                       FontCase { BinaryData::SourceSansProBold_ttf, BinaryData::SourceSansProBold_ttfSize, "Bold" } })
    {
        SCOPED_TRACE (font.style);
        auto typeface = juce::Typeface::createSystemTypefaceFor (font.data, (size_t) font.size);
        ASSERT_NE (typeface, nullptr);
       #if JUCE_WINDOWS
        // JUCE's Windows typefaces from memory carry the face's full name and no style.
        EXPECT_TRUE (typeface->getName().startsWith ("Source Sans Pro")) << typeface->getName();
       #else
        EXPECT_EQ (typeface->getName(), "Source Sans Pro");
        EXPECT_EQ (typeface->getStyle(), font.style);
       #endif
        EXPECT_GT (juce::Font (typeface).withHeight (20.0f).getStringWidthFloat ("PLUGIN"), 20.0f);
    }
}

TEST (Catalogue, EveryResourceHasTheSizeAndBytesOfItsSourceFile)
{
    // payload archives are packed into the build tree, next to the tests
    const auto payloads = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                              .getParentDirectory().getSiblingFile ("payloads");

    // The three archives, the fonts, the logo and the fifteen icons, in catalogue order.
    const juce::StringArray files { "aax.zip", "clap.zip", "vst3.zip",
                                    "SourceSansPro-Bold.ttf", "SourceSansPro-Regular.ttf", "oh_plume.png",
                                    "icon_aax.svg", "icon_auv2.svg", "icon_auv3.svg", "icon_clap.svg", "icon_discord.svg",
                                    "icon_eula.svg", "icon_help.svg", "icon_install.svg", "icon_lv2.svg", "icon_mail.svg",
                                    "icon_manual.svg", "icon_success.svg", "icon_vst3.svg", "icon_warning.svg", "icon_web.svg" };
    const juce::StringArray names { "aax_zip", "clap_zip", "vst3_zip",
                                    "SourceSansProBold_ttf", "SourceSansProRegular_ttf", "oh_plume_png",
                                    "icon_aax_svg", "icon_auv2_svg", "icon_auv3_svg", "icon_clap_svg", "icon_discord_svg",
                                    "icon_eula_svg", "icon_help_svg", "icon_install_svg", "icon_lv2_svg", "icon_mail_svg",
                                    "icon_manual_svg", "icon_success_svg", "icon_vst3_svg", "icon_warning_svg", "icon_web_svg" };
    ASSERT_EQ (BinaryData::namedResourceListSize, 21);
    EXPECT_EQ (juce::StringArray (BinaryData::namedResourceList, BinaryData::namedResourceListSize), names);
    EXPECT_EQ (juce::StringArray (BinaryData::originalFilenames, BinaryData::namedResourceListSize), files);

    for (int i = 0; i < names.size(); ++i)
        EXPECT_STREQ (BinaryData::getNamedResourceOriginalFilename (names[i].toRawUTF8()), files[i].toRawUTF8());

    int missingSize = -1;
    EXPECT_EQ (BinaryData::getNamedResource ("SourceSansPro-Bold.ttf", missingSize), nullptr);
    EXPECT_EQ (missingSize, 0);
    EXPECT_EQ (BinaryData::getNamedResourceOriginalFilename ("vst3.zip"), nullptr);

    for (int i = 0; i < BinaryData::namedResourceListSize; ++i)
    {
        const juce::String name (BinaryData::namedResourceList[i]);
        const juce::String fileName (BinaryData::originalFilenames[i]);
        SCOPED_TRACE (fileName.toStdString());

        int size = 0;
        auto* data = BinaryData::getNamedResource (name.toRawUTF8(), size);
        ASSERT_NE (data, nullptr);

        auto source = fileName.endsWith (".zip") ? payloads.getChildFile (fileName)
                                                 : sourceFolder().getChildFile (fileName);
        ASSERT_TRUE (source.existsAsFile()) << source.getFullPathName();
        EXPECT_EQ ((juce::int64) size, source.getSize());

        juce::MemoryBlock bytes;
        ASSERT_TRUE (source.loadFileAsData (bytes));
        EXPECT_TRUE (bytes.matches (data, (size_t) size));
    }
}
