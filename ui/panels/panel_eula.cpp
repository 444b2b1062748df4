#include "panel_eula.h"

#include "Palette.h"
#include "PanelLook.h"

using namespace Palette;

namespace
{
    const char* const title = "LICENSE AGREEMENT";
}

panel_eula::panel_eula (juce::String agreementText)
{
    scale = 9.0f;

    agreementEditor = std::make_unique<juce::TextEditor>();
    addAndMakeVisible (*agreementEditor);
    agreementEditor->setMultiLine (true, true);
    agreementEditor->setText (agreementText);
    agreementEditor->applyColourToAllText (mutedColour);

    // The editor sits on the panel's own background with no visible frame.
    agreementEditor->setColour (juce::TextEditor::outlineColourId, backgroundColour);
    agreementEditor->setColour (juce::TextEditor::focusedOutlineColourId, backgroundColour);

    closeButton = PanelLook::makeButton (*this, *this, "X");
}

panel_eula::~panel_eula() = default;

//==============================================================================
void panel_eula::paint (juce::Graphics& g)
{
    g.fillAll (backgroundColour);

    g.setColour (textColour);
    g.setFont (4.0f * scale);
    g.drawSingleLineText (title, (int) (4.0f * scale), (int) (6.0f * scale), juce::Justification::left);

    PanelLook::drawCloseGlyph (g, *closeButton, scale);
}

void panel_eula::resized()
{
    agreementEditor->setBounds (PanelLook::unitBounds (4.0f, 12.0f, 92.0f, 80.0f, scale));
    closeButton->setBounds (PanelLook::closeButtonBounds (scale));
}

//==============================================================================
void panel_eula::buttonClicked (juce::Button*)
{
    PanelLook::close (*this);
}
