#pragma once

#include "Catalogue.h"

/** What one look into a format's target folder says. Nothing is cached:
    every call looks at the disk afresh. */
struct FormatStatus
{
    bool installed = false;
    juce::String version;   ///< "a.b.c.d", or empty
    juce::String text;      ///< "NOT INSTALLED", "INSTALLED" or "v" + version + " INSTALLED"
};

/** Whether format k is installed: anything at its bundle path, or, on
    Linux, its bundle set aside by a killed run and waiting to be put back. */
bool probeFormatInstalled (const juce::File& folder, const juce::String& productName, int k);

/** The same, with the version and the text the tile shows. */
FormatStatus probeFormatStatus (const juce::File& folder, const juce::String& productName, int k);
