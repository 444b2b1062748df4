#pragma once

#include "MainComponent.h"
#include "Status.h"
#include "support/RecordingGraphics.h"

/** The main component's face as its drawing steps say it must be, for one
    state of the controls, so that a recorded paint can be held against it. */
struct FaceState
{
    int size = 600;
    juce::String hovered;                    ///< name of the button under the mouse, or empty
    juce::String pressed;                    ///< name of the button held down, or empty
    PerFormat<bool> selected {};
    PerFormat<FormatStatus> status;          ///< what the disk says for each format
    bool shiftDown = false;
};

struct FaceStep
{
    juce::String label;
    DrawEntry entry;
};

/** Every entry the paint must produce for that state, in order; icons are
    expanded into the fills of the same drawable drawn into its area. */
std::vector<FaceStep> expectedFace (const FaceState&);

/** The main component's paint alone, recorded. */
std::vector<DrawEntry> recordFace (MainComponent&);

/** Walks both lists together and fails at the first entry that differs in kind,
    colour, geometry, text, font height or face. */
void expectFace (const std::vector<DrawEntry>& actual, const std::vector<FaceStep>& expected);

/** The status of each format in the main component's folders right now. */
PerFormat<FormatStatus> statusOnDisk (const MainComponent&);
