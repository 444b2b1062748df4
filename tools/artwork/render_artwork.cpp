// Renders the artwork through the framework, the way the program draws it.
//
//   render_artwork sheet <out.png>                contact sheet of the embedded icons and logo
//   render_artwork logo <logo.svg> <out.png> [n]  logo as an n x n RGBA PNG (default 1024)
//   render_artwork hicolor <logo.svg> <dir>       <dir>/<n>x<n>/apps/oakhaze-plugin-manager.png
//
// The sheet reads the icons from the resource catalogue, so it shows exactly
// what the program embeds.

#include <BinaryData.h>
#include <Palette.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
    struct Icon
    {
        const char* name;
        const char* data;
        int size;
        enum Use { formatTile, extrasTile, resultCard } use;
    };

    std::vector<Icon> catalogueIcons()
    {
        using namespace BinaryData;
        return {
            { "icon_vst3.svg",    icon_vst3_svg,    icon_vst3_svgSize,    Icon::formatTile },
            { "icon_clap.svg",    icon_clap_svg,    icon_clap_svgSize,    Icon::formatTile },
            { "icon_aax.svg",     icon_aax_svg,     icon_aax_svgSize,     Icon::formatTile },
            { "icon_auv2.svg",    icon_auv2_svg,    icon_auv2_svgSize,    Icon::formatTile },
            { "icon_auv3.svg",    icon_auv3_svg,    icon_auv3_svgSize,    Icon::formatTile },
            { "icon_lv2.svg",     icon_lv2_svg,     icon_lv2_svgSize,     Icon::formatTile },
            { "icon_eula.svg",    icon_eula_svg,    icon_eula_svgSize,    Icon::extrasTile },
            { "icon_manual.svg",  icon_manual_svg,  icon_manual_svgSize,  Icon::extrasTile },
            { "icon_web.svg",     icon_web_svg,     icon_web_svgSize,     Icon::extrasTile },
            { "icon_help.svg",    icon_help_svg,    icon_help_svgSize,    Icon::extrasTile },
            { "icon_install.svg", icon_install_svg, icon_install_svgSize, Icon::extrasTile },
            { "icon_discord.svg", icon_discord_svg, icon_discord_svgSize, Icon::extrasTile },
            { "icon_mail.svg",    icon_mail_svg,    icon_mail_svgSize,    Icon::extrasTile },
            { "icon_success.svg", icon_success_svg, icon_success_svgSize, Icon::resultCard },
            { "icon_warning.svg", icon_warning_svg, icon_warning_svgSize, Icon::resultCard },
        };
    }

    // Loaded as the program loads them: every icon but the two result icons
    // has its pure black turned into ink.
    std::unique_ptr<juce::Drawable> loadIcon (const Icon& icon)
    {
        auto drawable = juce::Drawable::createFromImageData (icon.data, (size_t) icon.size);

        if (drawable != nullptr && icon.use != Icon::resultCard)
            drawable->replaceColour (juce::Colours::black, Palette::inkColour);

        return drawable;
    }

    juce::Colour tileColour (Icon::Use use, bool installed)
    {
        if (use == Icon::resultCard)
            return juce::Colours::black;

        if (use == Icon::formatTile)
            return installed ? Palette::brandColour.withAlpha ((juce::uint8) 230)
                             : Palette::mutedColour.withAlpha ((juce::uint8) 89);

        return Palette::mutedColour.withAlpha ((juce::uint8) 128);
    }

    // A tile of side (area * 4 / 3) with the icon fitted into its central area.
    void drawTile (juce::Graphics& g, juce::Drawable& drawable, Icon::Use use, bool installed,
                   juce::Rectangle<float> area)
    {
        auto tile = area.expanded (area.getWidth() / 6.0f);
        g.setColour (tileColour (use, installed));
        g.fillRoundedRectangle (tile, tile.getWidth() / 10.0f);

        if (use == Icon::resultCard)
        {
            g.setColour (Palette::textColour);
            g.drawRoundedRectangle (tile, tile.getWidth() / 10.0f, tile.getWidth() / 40.0f);
        }

        drawable.drawWithin (g, area, juce::RectanglePlacement::centred, 1.0f);
    }

    bool writePng (const juce::Image& image, const juce::File& file)
    {
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        juce::FileOutputStream out (file);

        if (! out.openedOk())
            return false;

        return juce::PNGImageFormat().writeImageToStream (image, out);
    }

    // fitFigure: the figure's own bounds fill the image (application icons,
    // where every pixel counts); otherwise the file's view box does.
    juce::Image renderSvg (const juce::File& svg, int size, bool fitFigure)
    {
        auto drawable = juce::Drawable::createFromSVGFile (svg);

        if (drawable == nullptr)
            return {};

        juce::Image image (juce::Image::ARGB, size, size, true);
        juce::Graphics g (image);
        g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);

        if (fitFigure)
        {
            auto area = juce::Rectangle<float> ((float) size, (float) size).reduced ((float) size / 32.0f);
            drawable->drawWithin (g, area, juce::RectanglePlacement::centred, 1.0f);
        }
        else
        {
            auto box = dynamic_cast<juce::DrawableComposite&> (*drawable).getContentArea();
            drawable->draw (g, 1.0f, juce::RectanglePlacement (juce::RectanglePlacement::centred)
                                         .getTransformToFit (box, { (float) size, (float) size }));
        }

        return image;
    }

    // Where two antialiased edges of one colour overlap, blending rounds the
    // colour by a step; put such opaque pixels back on the figure's colours.
    void snapToColours (juce::Image& image, std::initializer_list<juce::Colour> colours)
    {
        juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readWrite);

        for (int y = 0; y < image.getHeight(); ++y)
        {
            for (int x = 0; x < image.getWidth(); ++x)
            {
                auto c = pixels.getPixelColour (x, y);

                if (c.getAlpha() != 255)
                    continue;

                for (auto target : colours)
                {
                    auto distance = std::abs (c.getRed() - target.getRed())
                                  + std::abs (c.getGreen() - target.getGreen())
                                  + std::abs (c.getBlue() - target.getBlue());

                    if (distance > 0 && distance <= 4)
                        pixels.setPixelColour (x, y, target);
                }
            }
        }
    }

    juce::Font sheetFont (float height)
    {
        static auto typeface = juce::Typeface::createSystemTypefaceFor (BinaryData::SourceSansProRegular_ttf,
                                                                        (size_t) BinaryData::SourceSansProRegular_ttfSize);
        return juce::Font (typeface).withHeight (height);
    }

    int renderSheet (const juce::File& out)
    {
        const auto icons = catalogueIcons();
        const int columns = 4, cellW = 470, cellH = 420, margin = 30;
        const int rows = ((int) icons.size() + 1 + columns - 1) / columns;
        const int inPlaceH = 230;

        juce::Image sheet (juce::Image::ARGB, margin * 2 + columns * cellW,
                           margin * 2 + rows * cellH + inPlaceH, true);
        juce::Graphics g (sheet);
        g.fillAll (Palette::backgroundColour);

        auto cellOrigin = [&] (int index)
        {
            return juce::Point<float> ((float) (margin + (index % columns) * cellW),
                                       (float) (margin + (index / columns) * cellH));
        };

        auto caption = [&] (juce::Point<float> origin, const juce::String& text)
        {
            g.setColour (Palette::mutedColour);
            g.setFont (sheetFont (24.0f));
            g.drawText (text, juce::Rectangle<float> (origin.x, origin.y + 360.0f, 440.0f, 30.0f),
                        juce::Justification::centredLeft, true);
        };

        for (size_t i = 0; i < icons.size(); ++i)
        {
            auto& icon = icons[i];
            auto drawable = loadIcon (icon);
            auto origin = cellOrigin ((int) i);

            if (drawable == nullptr)
            {
                std::cerr << "not drawable: " << icon.name << "\n";
                return 1;
            }

            // 256 px on the tile it lives on
            drawTile (g, *drawable, icon.use, false, { origin.x + 43.0f, origin.y + 43.0f, 256.0f, 256.0f });
            // 64 px on the same tile, and on the installed (blue) tile for the formats
            drawTile (g, *drawable, icon.use, false, { origin.x + 366.0f, origin.y + 43.0f, 64.0f, 64.0f });

            if (icon.use == Icon::formatTile)
                drawTile (g, *drawable, icon.use, true, { origin.x + 366.0f, origin.y + 153.0f, 64.0f, 64.0f });

            caption (origin, icon.name);
        }

        // the logo from the catalogue, over the background and over white
        {
            auto origin = cellOrigin ((int) icons.size());
            auto logo = juce::ImageFileFormat::loadFrom (BinaryData::oh_plume_png, (size_t) BinaryData::oh_plume_pngSize);
            g.setColour (juce::Colours::white);
            g.fillRoundedRectangle ({ origin.x + 366.0f - 11.0f, origin.y + 43.0f - 11.0f, 86.0f, 86.0f }, 8.6f);
            g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
            g.drawImage (logo, { origin.x + 11.0f, origin.y + 11.0f, 320.0f, 320.0f }, juce::RectanglePlacement::centred);
            g.drawImage (logo, { origin.x + 366.0f, origin.y + 43.0f, 64.0f, 64.0f }, juce::RectanglePlacement::centred);
            caption (origin, "oh_plume.png " + juce::String (logo.getWidth()) + " x " + juce::String (logo.getHeight()));
        }

        // in place at the default window size: format tiles, extras tiles, result card
        {
            const float y = (float) (margin + rows * cellH);
            const float s = 6.0f;
            g.setColour (Palette::mutedColour);
            g.setFont (sheetFont (24.0f));
            g.drawText ("in place at 600 x 600", juce::Rectangle<float> ((float) margin, y, 600.0f, 30.0f),
                        juce::Justification::centredLeft, true);

            float x = (float) margin;
            for (int k = 0; k < 3; ++k)
            {
                auto drawable = loadIcon (icons[(size_t) k]);
                juce::Rectangle<float> tile (x, y + 50.0f, 45.0f * s, 10.0f * s);
                g.setColour (tileColour (Icon::formatTile, k == 1));
                g.fillRoundedRectangle (tile, s);
                g.setColour (Palette::backgroundColour);
                g.setFont (sheetFont (3.5f * s));
                g.drawText (juce::StringArray { "VST3", "CLAP", "AAX" }[k],
                            tile.reduced (1.5f * s).withTrimmedLeft (10.0f * s), juce::Justification::topLeft, true);
                g.setFont (sheetFont (3.0f * s));
                g.drawText (k == 1 ? "v1.0.0 INSTALLED" : "NOT INSTALLED",
                            tile.reduced (1.5f * s).withTrimmedLeft (10.0f * s), juce::Justification::bottomLeft, true);
                drawable->drawWithin (g, { tile.getX() + s, tile.getY() + s, 8.0f * s, tile.getHeight() - 2.0f * s },
                                      juce::RectanglePlacement::centred, 1.0f);
                x += tile.getWidth() + 2.0f * s;
            }

            x = (float) margin;
            const int extras[] = { 6, 7, 8, 9, 10, 11, 12 };
            for (auto index : extras)
            {
                auto drawable = loadIcon (icons[(size_t) index]);
                juce::Rectangle<float> tile (x, y + 130.0f, 10.0f * s, 10.0f * s);
                g.setColour (tileColour (Icon::extrasTile, false));
                g.fillRoundedRectangle (tile, s);
                drawable->drawWithin (g, tile.reduced (index == 10 ? 1.5f * s : 2.0f * s),
                                      juce::RectanglePlacement::centred, 1.0f);
                x += 11.5f * s;
            }

            for (int index : { 13, 14 })
            {
                auto drawable = loadIcon (icons[(size_t) index]);
                juce::Rectangle<float> card (x, y + 130.0f, 10.0f * s, 10.0f * s);
                g.setColour (juce::Colours::black);
                g.fillRoundedRectangle (card, s);
                drawable->drawWithin (g, card.reduced (2.0f * s), juce::RectanglePlacement::centred, 1.0f);
                x += 11.5f * s;
            }
        }

        if (! writePng (sheet, out))
        {
            std::cerr << "cannot write " << out.getFullPathName() << "\n";
            return 1;
        }

        return 0;
    }

    int renderLogo (const juce::File& svg, const juce::File& out, int size, bool fitFigure)
    {
        auto image = renderSvg (svg, size, fitFigure);

        if (image.isValid())
            snapToColours (image, { Palette::brandColour, juce::Colour (0xff00b9f2) });

        if (! image.isValid() || ! writePng (image, out))
        {
            std::cerr << "cannot render " << svg.getFullPathName() << " to " << out.getFullPathName() << "\n";
            return 1;
        }

        return 0;
    }

    int renderHicolor (const juce::File& svg, const juce::File& dir)
    {
        for (int size : { 16, 32, 48, 64, 128, 256 })
        {
            auto name = juce::String (size) + "x" + juce::String (size);
            auto file = dir.getChildFile (name).getChildFile ("apps").getChildFile ("oakhaze-plugin-manager.png");

            if (renderLogo (svg, file, size, true) != 0)
                return 1;
        }

        return 0;
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    auto file = [] (const juce::String& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (path);
    };

    if (args.size() == 2 && args[0] == "sheet")
        return renderSheet (file (args[1]));

    if ((args.size() == 3 || args.size() == 4) && args[0] == "logo")
        return renderLogo (file (args[1]), file (args[2]), args.size() == 4 ? args[3].getIntValue() : 1024, false);

    if (args.size() == 3 && args[0] == "hicolor")
        return renderHicolor (file (args[1]), file (args[2]));

    std::cerr << "usage: render_artwork sheet <out.png>\n"
                 "       render_artwork logo <logo.svg> <out.png> [size]\n"
                 "       render_artwork hicolor <logo.svg> <dir>\n";
    return 2;
}
