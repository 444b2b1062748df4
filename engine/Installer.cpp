#include "Installer.h"

#include "BinaryData.h"

PerFormat<PayloadArchive> embeddedPayloads()
{
    return {};
}

bool processSelectedFormats (PerFormat<bool>& selection,
                             bool,
                             const PerFormat<juce::File>&,
                             const juce::String&,
                             const PerFormat<PayloadArchive>&)
{
    // Not yet: nothing is processed and nothing is reported as success.
    selection.fill (false);
    return false;
}

void removeLeftoverScript (const juce::File&)
{
}
