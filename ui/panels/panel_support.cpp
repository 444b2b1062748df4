#include "panel_support.h"

#include "BinaryData.h"
#include "Catalogue.h"
#include "Icons.h"
#include "Palette.h"
#include "PanelLook.h"

using namespace Palette;

namespace
{
    // The texts in the order the panel draws them.
    const char* const discordHeading = "DISCORD";
    const char* const mailHeading = "E-MAIL";
    const char* const aboutHeading = "ABOUT OAKHAZE PLUGIN MANAGER";

    juce::String copyrightNotice()
    {
        return juce::String (juce::CharPointer_UTF8 ("\xc2\xa9 2026 Oakhaze, Inc."));
    }
}

panel_support::panel_support()
{
    scale = 9.0f;
    settingsFolder = juce::File();

    discordIcon = loadIcon (BinaryData::icon_discord_svg, BinaryData::icon_discord_svgSize);
    mailIcon = loadIcon (BinaryData::icon_mail_svg, BinaryData::icon_mail_svgSize);

    closeButton = PanelLook::makeButton (*this, *this, "X");
    discordButton = PanelLook::makeButton (*this, *this, "DISCORD");
    mailButton = PanelLook::makeButton (*this, *this, "MAIL");
}

panel_support::~panel_support() = default;

juce::String panel_support::getAboutText() const
{
    // Joined with a forward slash whatever the platform's separator.
    return juce::String ("The Oakhaze Plugin Manager v") + Manager::version
         + " cross-platform installater. \nFeel free to drop us a line if you have any suggestions"
           " or questions concerning its use. You can edit the default installation paths in the"
           " text file found at "
         + settingsFolder.getFullPathName() + "/PluginManagerSettings.txt";
}

//==============================================================================
void panel_support::paint (juce::Graphics& g)
{
    const auto s = scale;
    const auto unitArea = [s] (float x, float y, float w, float h) { return juce::Rectangle<float> (x * s, y * s, w * s, h * s); };

    g.fillAll (backgroundColour);

    PanelLook::drawCloseGlyph (g, *closeButton, s);

    // Heading, tile, explanation: once for Discord, once for e-mail.
    const auto drawContact = [&] (const juce::String& heading, float headingY, const juce::Button& tile,
                                  juce::Drawable* icon, const juce::String& explanation)
    {
        g.setFont (5.0f * s);
        g.setColour (textColour);
        g.drawText (heading, unitArea (10.0f, headingY, 80.0f, 10.0f), juce::Justification::centredLeft, true);

        drawContactTile (g, tile, icon);

        g.setColour (mutedColour);
        g.setFont (3.0f * s);
        g.drawFittedText (explanation, explanationArea (tile), juce::Justification::topLeft, 20);
    };

    drawContact (discordHeading, 7.0f, *discordButton, discordIcon.get(), discordExplanation);
    drawContact (mailHeading, 27.0f, *mailButton, mailIcon.get(), mailExplanation);

    g.setFont (3.0f * s);
    g.setColour (mutedColour);
    g.drawText (aboutHeading, unitArea (10.0f, 57.0f, 80.0f, 10.0f), juce::Justification::centredLeft, true);

    g.drawFittedText (getAboutText(), PanelLook::unitBounds (10.0f, 65.0f, 80.0f, 30.0f, s),
                      juce::Justification::topLeft, 20);

    g.drawSingleLineText (copyrightNotice(), (int) (10.0f * s), (int) (88.0f * s), juce::Justification::left);

    // Like the main window's hint line, in its place.
    if (linkHint.isNotEmpty())
    {
        g.setColour (mutedColour.withAlpha (0.5f));
        g.drawText (linkHint, unitArea (4.0f, 90.0f, 92.0f, 3.0f), juce::Justification::centred, true);
    }
}

void panel_support::drawContactTile (juce::Graphics& g, const juce::Button& button, juce::Drawable* icon) const
{
    const auto tile = button.getBounds().toFloat();

    g.setColour (PanelLook::tileColour (button.isMouseButtonDown(), button.isMouseOver()));
    g.fillRoundedRectangle (tile, scale);

    if (icon != nullptr)
        icon->drawWithin (g, tile.reduced (2.0f * scale), juce::RectanglePlacement::centred, 1.0f);
}

juce::Rectangle<int> panel_support::explanationArea (const juce::Button& tile) const
{
    return { juce::roundToInt ((float) tile.getX() + 12.0f * scale), tile.getY(),
             juce::roundToInt (70.0f * scale), juce::roundToInt (30.0f * scale) };
}

void panel_support::resized()
{
    closeButton->setBounds (PanelLook::closeButtonBounds (scale));
    discordButton->setBounds (PanelLook::unitBounds (10.0f, 15.0f, 10.0f, 10.0f, scale));
    mailButton->setBounds (PanelLook::unitBounds (10.0f, 35.0f, 10.0f, 10.0f, scale));
}

//==============================================================================
void panel_support::buttonClicked (juce::Button* button)
{
    const auto name = button->getName();

    if (name == "X")
        PanelLook::close (*this);
    else if (name == "DISCORD" || name == "MAIL")
    {
        linkHint = linkOpeningHint (openLink (juce::URL (name == "DISCORD" ? Product::discordUrl : Product::supportMailUrl)));
        repaint();
    }
}
