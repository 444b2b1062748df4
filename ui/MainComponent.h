#pragma once

#include "Catalogue.h"
#include "CustomLookAndFeel.h"
#include "OpenLink.h"
#include "Operation.h"
#include "SystemPaths.h"
#include "panels/panel_eula.h"
#include "panels/panel_success.h"
#include "panels/panel_support.h"

#include <functional>

/** The whole face of the main window: it paints everything itself under nine
    invisible buttons and reacts to their clicks. */
class MainComponent final : public juce::Component,
                            public juce::Button::Listener
{
public:
    /** Without an operation INSTALL changes nothing and shows a failed result. */
    explicit MainComponent (SystemPaths paths = SystemPaths::fromSystem(),
                            std::unique_ptr<Operation> operation = nullptr);
    ~MainComponent() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void modifierKeysChanged (const juce::ModifierKeys&) override;
    void resized() override;

    //==============================================================================
    void buttonClicked (juce::Button*) override;
    void buttonStateChanged (juce::Button*) override;

    //==============================================================================
    /** Opens the product page and the manual; tests replace it so that no browser starts. */
    std::function<LinkOpening (const juce::URL&)> openLink = openLinkAsDesktopUser;

    //==============================================================================
    // Read-only views for the window and the tests.
    const PerFormat<bool>& getFormatSelected() const noexcept        { return formatSelected; }
    const PerFormat<juce::File>& getFormatFolders() const noexcept   { return formatFolders; }
    const juce::File& getSettingsFolder() const noexcept             { return settingsFolder; }
    juce::String getHintText() const                                 { return hintLabel->getText(); }
    bool isShiftDown() const noexcept                                { return shiftDown; }
    bool isOperationRunning() const noexcept                         { return operationRunning; }
    panel_eula* getEulaPanel() const noexcept                        { return eulaPanel.get(); }
    panel_support* getSupportPanel() const noexcept                  { return supportPanel.get(); }
    panel_success* getResultPanel() const noexcept                   { return resultPanel.get(); }

private:
    //==============================================================================
    std::unique_ptr<juce::TextButton> makeButton (const juce::String& name);
    juce::Font fontOfHeight (float units) const;
    void runInstallCommand();
    void operationFinished (const OperationOutcome&);
    template <typename Panel>
    void showPanel (std::unique_ptr<Panel>& holder, std::unique_ptr<Panel> panel,
                    const std::function<void (Panel&)>& configure = {});

    //==============================================================================
    int lastModifierFlags = 0;
    CustomLookAndFeel customLookAndFeel;
    float scale = 9.0f;

    juce::String productName { Product::rawName };
    juce::String productVersion { Product::version };
    juce::String platformSuffix { Product::platformSuffix };

    std::array<std::unique_ptr<juce::TextButton>, 4> extraButtons;
    PerFormat<std::unique_ptr<juce::TextButton>> formatButtons;
    std::unique_ptr<juce::TextButton> installButton;
    std::unique_ptr<juce::TextButton> selectAllButton;

    std::unique_ptr<panel_eula> eulaPanel;
    std::unique_ptr<panel_support> supportPanel;
    std::unique_ptr<juce::Label> hintLabel;

    PerFormat<std::unique_ptr<juce::Drawable>> formatIcons;
    std::array<std::unique_ptr<juce::Drawable>, 5> extraIcons;
    std::unique_ptr<panel_success> resultPanel;

    juce::URL productPageUrl;
    juce::URL manualUrl;
    juce::File settingsFolder;
    bool shiftDown = false;
    PerFormat<bool> formatSelected {};
    PerFormat<juce::File> formatFolders;

    std::unique_ptr<Operation> operation;
    bool operationRunning = false;
    const SystemPaths systemPaths;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
