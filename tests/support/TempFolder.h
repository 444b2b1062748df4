#pragma once

#include "SystemPaths.h"

/** A fresh folder below the system's temporary folder, deleted with the object. */
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();

    const juce::File& get() const noexcept     { return folder; }
    juce::File operator[] (const char* child) const { return folder.getChildFile (child); }

    /** Paths that keep the program inside this folder: plug-in base "lib",
        application data "appdata", temporary folder "tmp" (all created),
        state folder "state" (made by the run that needs it). */
    SystemPaths systemPaths() const;

private:
    juce::File folder;
    JUCE_DECLARE_NON_COPYABLE (TempFolder)
};
