#include "Status.h"

FormatStatus probeFormatStatus (const juce::File& folder, const juce::String& productName, int k)
{
    FormatStatus status;
    status.installed = isBundlePresent (folder, productName, k);
    status.text = status.installed ? "INSTALLED" : "NOT INSTALLED";
    return status;
}
