#include "MainComponent.h"

#include "BinaryData.h"
#include "Palette.h"
#include "Settings.h"

namespace
{
    std::unique_ptr<juce::Drawable> loadIcon (const char* data, int size)
    {
        auto icon = juce::Drawable::createFromImageData (data, (size_t) size);

        // Unfilled shapes render black too, so this catches them as well.
        if (icon != nullptr)
            icon->replaceColour (juce::Colours::black, Palette::inkColour);

        return icon;
    }
}

//==============================================================================
MainComponent::MainComponent (SystemPaths paths)
    : systemPaths (std::move (paths))
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

    for (size_t i = 0; i < extraButtons.size(); ++i)
        extraButtons[i] = makeButton (extraNames[(int) i]);

    for (int k = 0; k < numFormats; ++k)
    {
        formatSelected[(size_t) k] = isBundlePresent (formatFolders[(size_t) k], productName, k);
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

MainComponent::~MainComponent() = default;

std::unique_ptr<juce::TextButton> MainComponent::makeButton (const juce::String& name)
{
    auto button = std::make_unique<juce::TextButton>();
    addAndMakeVisible (*button);
    button->setName (name);
    button->setAlpha (0.0f);
    button->addListener (this);
    return button;
}

//==============================================================================
void MainComponent::paint (juce::Graphics&)
{
}

void MainComponent::resized()
{
    scale = (float) getWidth() * 0.01f;
}

//==============================================================================
void MainComponent::buttonClicked (juce::Button*)
{
}
