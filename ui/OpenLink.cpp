#include "OpenLink.h"

juce::String linkOpeningHint (LinkOpening opening)
{
    switch (opening)
    {
        case LinkOpening::onClipboard:  return "Link copied to the clipboard: paste it into your browser";
        case LinkOpening::failed:       return "The link could not be opened: no browser or mail program started";
        case LinkOpening::started:      break;
    }

    return {};
}
