#include "MainComponent.h"

#include "BinaryData.h"
#include "Icons.h"
#include "Installer.h"
#include "Palette.h"
#include "RunLog.h"
#include "Settings.h"
#include "Status.h"

//==============================================================================
MainComponent::MainComponent (SystemPaths paths, std::unique_ptr<Operation> operationToUse)
    : operation (std::move (operationToUse)),
      systemPaths (std::move (paths))
{
    juce::Desktop::getInstance().setDefaultLookAndFeel (&customLookAndFeel);

    scale = 9.0f;
    shiftDown = false;

    formatIcons[0] = loadIcon (BinaryData::icon_vst3_svg, BinaryData::icon_vst3_svgSize);
    formatIcons[1] = loadIcon (BinaryData::icon_clap_svg, BinaryData::icon_clap_svgSize);
    formatIcons[2] = loadIcon (BinaryData::icon_aax_svg, BinaryData::icon_aax_svgSize);
    extraIcons[0] = loadIcon (BinaryData::icon_eula_svg, BinaryData::icon_eula_svgSize);
    extraIcons[1] = loadIcon (BinaryData::icon_manual_svg, BinaryData::icon_manual_svgSize);
    extraIcons[2] = loadIcon (BinaryData::icon_web_svg, BinaryData::icon_web_svgSize);
    extraIcons[3] = loadIcon (BinaryData::icon_help_svg, BinaryData::icon_help_svgSize);
    extraIcons[4] = loadIcon (BinaryData::icon_install_svg, BinaryData::icon_install_svgSize);

    platformSuffix = Product::platformSuffix;
    formatFolders = defaultFormatFolders (systemPaths.defaultFolderBase);
    productName = Product::displayName();
    productVersion = Product::version;
    productPageUrl = juce::URL (Product::pageUrl);
    manualUrl = juce::URL (Product::manualUrl);

    const auto settings = resolveSettings (systemPaths.commonAppDataFolder, formatFolders);
    settingsFolder = settings.settingsFolder;
    formatFolders = settings.formatFolders;
    RunLog::started (productName, productVersion, formatFolders,
                     { settings.fromSettingsFile, settings.settingsFile, settings.ignoredBecause });

    // A replacement killed half-way left a bundle set aside: back in place before anything looks.
    restoreSetAsideBundles (formatFolders, productName, { systemPaths.stateFolder });

    for (size_t i = 0; i < extraButtons.size(); ++i)
        extraButtons[i] = makeButton (extraNames[(int) i]);

    for (int k = 0; k < numFormats; ++k)
    {
        formatSelected[(size_t) k] = probeFormatInstalled (formatFolders[(size_t) k], productName, k);
        formatButtons[(size_t) k] = makeButton (formatNames[k]);
    }

    installButton = makeButton ("INSTALL");
    selectAllButton = makeButton ("SELECT_ALL");

    hintLabel = std::make_unique<juce::Label>();
    addAndMakeVisible (*hintLabel);
    hintLabel->setJustificationType (juce::Justification::centred);
    hintLabel->setColour (juce::Label::textColourId, Palette::mutedColour.withAlpha (0.5f));
    hintLabel->setText (Manager::version, juce::dontSendNotification);

    setSize (600, 600);
}

MainComponent::~MainComponent()
{
    removeLeftoverScript (systemPaths.temporaryFolder);

    // The hint line goes before the buttons; a focus change while they go must not reach us.
    for (auto* child : getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child))
            button->removeListener (this);

    // A fade still running keeps a snapshot child of ours; end it while we exist.
    if (resultPanel != nullptr)
        juce::Desktop::getInstance().getAnimator().cancelAnimation (resultPanel.get(), false);
}

std::unique_ptr<juce::TextButton> MainComponent::makeButton (const juce::String& name)
{
    auto button = std::make_unique<juce::TextButton>();
    addAndMakeVisible (*button);
    button->setName (name);
    button->setAlpha (0.0f);
    // The face is painted over these: a focused one would click again on Return or Space.
    button->setWantsKeyboardFocus (false);
    button->setMouseClickGrabsKeyboardFocus (false);
    button->addListener (this);
    return button;
}

juce::Font MainComponent::fontOfHeight (float units) const
{
    return juce::Font (customLookAndFeel.regularTypeface).withHeight (units * scale);
}

//==============================================================================
namespace
{
    // Alpha bytes of the tiles: 0.1, 0.35, 0.5, 0.75 and 0.9 of 255.
    constexpr juce::uint8 faint = 26, dim = 89, half = 128, strong = 191, nearlyOpaque = 230;

    juce::Colour extraTileColour (const juce::Button& b)
    {
        if (b.isMouseButtonDown (false))
            return Palette::accentColour;

        return Palette::mutedColour.withAlpha (b.isMouseOver (false) ? strong : half);
    }

    juce::Colour selectAllTileColour (const juce::Button& b)
    {
        return b.isMouseButtonDown (false) ? Palette::accentColour : Palette::mutedColour.withAlpha (faint);
    }

    // A format tile has no pressed look: only hover and the disk count.
    juce::Colour formatTileColour (const juce::Button& b, bool installed)
    {
        const auto hovered = b.isMouseOver (false);

        if (installed)
            return Palette::brandColour.withAlpha (hovered ? (juce::uint8) 255 : nearlyOpaque);

        return Palette::mutedColour.withAlpha (hovered ? half : dim);
    }

    juce::Rectangle<float> reducedBy (juce::Rectangle<float> b, float d)
    {
        return { b.getX() + d, b.getY() + d,
                 juce::jmax (0.0f, b.getWidth() - 2.0f * d), juce::jmax (0.0f, b.getHeight() - 2.0f * d) };
    }

    void drawIcon (juce::Graphics& g, const std::unique_ptr<juce::Drawable>& icon, juce::Rectangle<float> area)
    {
        if (icon != nullptr)
            icon->drawWithin (g, area, juce::RectanglePlacement::centred, 1.0f);
    }

    // Single-line texts start on whole pixels, truncated toward zero.
    void drawWord (juce::Graphics& g, const juce::String& text, float x, float baseline)
    {
        g.drawSingleLineText (text, (int) x, (int) baseline, juce::Justification::left);
    }
}

//==============================================================================
void MainComponent::paint (juce::Graphics& g)
{
    const auto s = scale;
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const auto mutedHalf = Palette::mutedColour.withAlpha (half);

    // 1-3: background, header strip, corner dots
    g.fillAll (Palette::backgroundColour);

    g.setColour (Palette::brandColour);
    g.fillRect (juce::Rectangle<float> (0.0f, 0.0f, 100.0f * s, 1.0f * s));

    g.setColour (mutedHalf);
    const auto dotX = w - 1.5f * s - 0.5f * s;
    g.fillEllipse (dotX, h - 2.0f * s, s, s);
    g.fillEllipse (dotX, h - 4.0f * s, s, s);
    g.fillEllipse (w - 4.0f * s, h - 2.0f * s, s, s);

    // 4-5: product title and version line
    const juce::Rectangle<float> titleArea (4.0f * s, 8.0f * s, w, 12.0f * s);
    g.setColour (Palette::mutedColour);
    g.setFont (fontOfHeight (9.0f));
    g.drawText (productName.toUpperCase(), titleArea, juce::Justification::topLeft, true);

    g.setColour (mutedHalf);
    g.setFont (fontOfHeight (4.0f));
    g.drawText ("Version " + productVersion + platformSuffix, titleArea, juce::Justification::bottomLeft, true);

    // 6-9: wordmark and the manager's own name and version
    g.setColour (Palette::textColour);
    g.setFont (fontOfHeight (4.0f));
    drawWord (g, "OAK", 4.0f * s, 5.0f * s);
    g.setColour (Palette::mutedColour);
    drawWord (g, "HAZE", 13.0f * s, 5.0f * s);

    g.setColour (mutedHalf);
    g.setFont (fontOfHeight (3.0f));
    drawWord (g, "PLUGIN MANAGER", 75.0f * s, 4.0f * s);
    g.setFont (fontOfHeight (2.0f));
    drawWord (g, juce::String ("v") + Manager::version, 75.0f * s, 6.0f * s);

    // 10-11: section captions and their rules
    g.setColour (Palette::mutedColour);
    g.setFont (fontOfHeight (4.0f));
    drawWord (g, "FORMATS", 4.0f * s, 26.0f * s);
    g.fillRect (juce::Rectangle<float> (4.0f * s, 27.5f * s, 92.0f * s, 0.25f * s));
    drawWord (g, "EXTRAS", 4.0f * s, 70.0f * s);
    g.fillRect (juce::Rectangle<float> (4.0f * s, 71.5f * s, 92.0f * s, 0.25f * s));

    // 12-13: extras tiles and INSTALL, each captioned below its tile
    const auto drawExtraTile = [&] (const juce::Button& button, const std::unique_ptr<juce::Drawable>& icon,
                                    float iconInset, const juce::String& caption)
    {
        const auto b = button.getBounds().toFloat();
        g.setColour (extraTileColour (button));
        g.fillRoundedRectangle (b, s);
        drawIcon (g, icon, reducedBy (b, iconInset * s));
        g.setColour (Palette::mutedColour);
        g.setFont (fontOfHeight (2.5f));
        g.drawText (caption, b.withY (b.getY() + 3.5f * s), juce::Justification::centredBottom, true);
    };

    for (size_t j = 0; j < extraButtons.size(); ++j)
        drawExtraTile (*extraButtons[j], extraIcons[j], 2.0f, extraNames[(int) j]);

    drawExtraTile (*installButton, extraIcons[4], 1.5f, shiftDown ? "UNINSTALL" : "INSTALL");

    // 14: SELECT ALL, no hover look
    {
        const auto b = selectAllButton->getBounds().toFloat();
        const auto pressed = selectAllButton->isMouseButtonDown (false);
        g.setColour (selectAllTileColour (*selectAllButton));
        g.fillRoundedRectangle (b, s);
        g.setColour (pressed ? Palette::inkColour : Palette::mutedColour);
        g.setFont (fontOfHeight (3.0f));
        g.drawText ("SELECT ALL", b, juce::Justification::centred, true);
    }

    // 15: format tiles, from what is on disk right now
    for (int k = 0; k < numFormats; ++k)
    {
        const auto& button = *formatButtons[(size_t) k];
        const auto status = probeFormatStatus (formatFolders[(size_t) k], productName, k);
        const auto b = button.getBounds().toFloat();

        g.setColour (formatTileColour (button, status.installed));
        g.fillRoundedRectangle (b, s);

        if (formatSelected[(size_t) k])
        {
            g.setColour (Palette::selectionColour);
            g.drawRoundedRectangle (b, s, 0.5f * s);
        }

        const juce::Rectangle<float> textArea (b.getX() + 1.5f * s + 10.0f * s, b.getY() + 1.5f * s,
                                               juce::jmax (0.0f, b.getWidth() - 3.0f * s),
                                               juce::jmax (0.0f, b.getHeight() - 3.0f * s));
        g.setColour (Palette::backgroundColour);
        g.setFont (fontOfHeight (3.5f));
        g.drawText (formatNames[k], textArea, juce::Justification::topLeft, true);
        g.setFont (fontOfHeight (3.0f));
        g.drawText (status.text, textArea, juce::Justification::bottomLeft, true);

        drawIcon (g, formatIcons[(size_t) k],
                  { b.getX() + s, b.getY() + s, 8.0f * s, juce::jmax (0.0f, b.getHeight() - 2.0f * s) });
    }
}

void MainComponent::resized()
{
    scale = (float) getWidth() * 0.01f;
    const auto s = scale;
    const auto px = [] (float v) { return juce::roundToInt (v); };

    // The extras x accumulates unrounded; each step is rounded by itself.
    const auto side = px (10.0f * s);
    const auto rowY = px (73.5f * s);
    auto x = 4.0f * s;

    for (auto& button : extraButtons)
    {
        button->setBounds (px (x), rowY, side, side);
        x = x + 11.5f * s;
    }

    installButton->setBounds (px (86.0f * s), rowY, side, side);
    selectAllButton->setBounds (px (80.0f * s), px (22.5f * s), px (16.0f * s), px (4.0f * s));

    const auto tileW = px (45.0f * s);
    formatButtons[0]->setBounds (px (4.0f * s), px (30.0f * s), tileW, side);
    formatButtons[1]->setBounds (px (51.0f * s), px (30.0f * s), tileW, side);
    formatButtons[2]->setBounds (px (4.0f * s), px (42.0f * s), tileW, side);

    hintLabel->setFont (fontOfHeight (3.0f));
    hintLabel->setBounds (px (4.0f * s), px (90.0f * s), px (92.0f * s), px (3.0f * s));

    // Open licence and support panels keep covering us; the result panel keeps what it was given.
    const auto keepOver = [this, s] (juce::Component* panel, float& panelScale)
    {
        panelScale = s;
        panel->setBounds (getBounds());
        panel->setAlwaysOnTop (true);
    };

    if (eulaPanel != nullptr)
        keepOver (eulaPanel.get(), eulaPanel->scale);

    if (supportPanel != nullptr)
        keepOver (supportPanel.get(), supportPanel->scale);
}

//==============================================================================
void MainComponent::modifierKeysChanged (const juce::ModifierKeys& modifiers)
{
    const auto bits = modifiers.getRawFlags() & 0x0f;
    const auto changed = bits ^ lastModifierFlags;

    if ((changed & juce::ModifierKeys::shiftModifier) != 0)
    {
        shiftDown = (bits & juce::ModifierKeys::shiftModifier) != 0;
        repaint();
    }

    for (auto bit : { 2, 4, 8 })
        if ((changed & bit) != 0)
            repaint();

    lastModifierFlags = bits;
}

//==============================================================================
void MainComponent::buttonClicked (juce::Button* button)
{
    const auto name = button->getName();

    if (name == "EULA")
    {
        showPanel (eulaPanel, std::make_unique<panel_eula> (eulaText));
    }
    else if (name == "WEBSITE" || name == "MANUAL")
    {
        // A link that started nothing says so, or the click would seem lost.
        const auto hint = linkOpeningHint (openLink (name == "WEBSITE" ? productPageUrl : manualUrl));

        if (hint.isNotEmpty())
            hintLabel->setText (hint, juce::dontSendNotification);
    }
    else if (name == "SUPPORT")
    {
        showPanel<panel_support> (supportPanel, std::make_unique<panel_support>(),
                                  [this] (panel_support& p) { p.settingsFolder = settingsFolder; });
    }
    else if (formatNames.indexOf (name) >= 0 && formatNames.indexOf (name) < numFormats)
    {
        auto& selected = formatSelected[(size_t) formatNames.indexOf (name)];
        selected = ! selected;
        repaint();
    }
    else if (name == "INSTALL")
    {
        runInstallCommand();
    }
    else if (name == "SELECT_ALL")
    {
        formatSelected.fill (true);
        repaint();
    }
}

template <typename Panel>
void MainComponent::showPanel (std::unique_ptr<Panel>& holder, std::unique_ptr<Panel> panel,
                               const std::function<void (Panel&)>& configure)
{
    holder = std::move (panel);   // the panel shown before goes now
    addAndMakeVisible (*holder);
    holder->scale = scale;

    if (configure)
        configure (*holder);

    holder->setBounds (getBounds());
    holder->setAlwaysOnTop (true);
}

void MainComponent::runInstallCommand()
{
    // One operation at a time: the click before may still wait for a password.
    if (operationRunning)
        return;

    const OperationRequest request { formatSelected, shiftDown, formatFolders, productName };

    // Nothing selected, or nothing to run it with: nothing is asked for and nothing changes.
    if (std::find (request.formats.begin(), request.formats.end(), true) == request.formats.end() || operation == nullptr)
    {
        operationFinished ({});
        return;
    }

    operationRunning = true;
    operation->start (request, [safe = juce::Component::SafePointer<MainComponent> (this)] (const OperationOutcome& outcome)
    {
        if (safe != nullptr)
            safe->operationFinished (outcome);
    });
}

void MainComponent::operationFinished (const OperationOutcome& outcome)
{
    operationRunning = false;

    for (size_t k = 0; k < formatSelected.size(); ++k)
        if (outcome.processed[k])
            formatSelected[k] = false;

    repaint();

    if (outcome.hint.isNotEmpty())
        hintLabel->setText (outcome.hint, juce::dontSendNotification);

    // The previous result panel goes only now, even mid-fade; its snapshot
    // goes with it rather than fading on under the new card.
    auto& animator = juce::Desktop::getInstance().getAnimator();
    if (resultPanel != nullptr)
        animator.cancelAnimation (resultPanel.get(), false);

    resultPanel = std::make_unique<panel_success>();
    addAndMakeVisible (*resultPanel);
    resultPanel->scale = scale;
    resultPanel->success = outcome.success;
    resultPanel->setBounds (getBounds());
    resultPanel->setAlwaysOnTop (true);

    // The panel hides at once; a snapshot of it fades and lets clicks through.
    animator.animateComponent (resultPanel.get(), getBounds(), 0.0f, 3000, true, 0.0, 0.0);
}

void MainComponent::buttonStateChanged (juce::Button* button)
{
    if (! button->isMouseOver (false))
    {
        hintLabel->setText ({}, juce::dontSendNotification);
        return;
    }

    const auto name = button->getName();
    juce::String hint;

    if (name == "EULA")
        hint = "Click to read End-User License Agreement";
    else if (name == "MANUAL")
        hint = "Click to open product manual in your web browser";
    else if (name == "WEBSITE")
        hint = "Click to open product page on the Oakhaze website";
    else if (name == "SUPPORT")
        hint = "Email and Discord support";
    else if (const auto k = formatNames.indexOf (name); k >= 0 && k < numFormats)
        hint = probeFormatInstalled (formatFolders[(size_t) k], productName, k)
                   ? "Select to update " + name + " to " + productVersion
                   : "Select to install " + name;
    else if (name == "INSTALL")
        hint = juce::String ("Click to install selected. ") + "Shift-click to uninstall selected";
    else
        return;   // SELECT_ALL and unknown names keep the current text

    hintLabel->setText (hint, juce::dontSendNotification);
}
