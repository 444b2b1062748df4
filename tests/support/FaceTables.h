#pragma once

#include <juce_graphics/juce_graphics.h>

#include <map>

// What the face is made of, written out rather than worked out: the children's
// bounds at four window sizes (halves round to even: 77.5 -> 78, 192.5 -> 192,
// 367.5 -> 368, 112.5 -> 112), and the palette's colours by their values.
namespace FaceTables
{
    using Bounds = std::map<juce::String, juce::Rectangle<int>>;

    struct Layout
    {
        int size;
        Bounds children;   ///< by component name; the unnamed hint line as "hint"
    };

    inline const Layout layouts[] = {
        { 600, { { "EULA", { 24, 441, 60, 60 } }, { "MANUAL", { 93, 441, 60, 60 } }, { "WEBSITE", { 162, 441, 60, 60 } },
                 { "SUPPORT", { 231, 441, 60, 60 } }, { "INSTALL", { 516, 441, 60, 60 } }, { "SELECT_ALL", { 480, 135, 96, 24 } },
                 { "VST3", { 24, 180, 270, 60 } }, { "CLAP", { 306, 180, 270, 60 } }, { "AAX", { 24, 252, 270, 60 } },
                 { "hint", { 24, 540, 552, 18 } } } },
        { 500, { { "EULA", { 20, 368, 50, 50 } }, { "MANUAL", { 78, 368, 50, 50 } }, { "WEBSITE", { 135, 368, 50, 50 } },
                 { "SUPPORT", { 192, 368, 50, 50 } }, { "INSTALL", { 430, 368, 50, 50 } }, { "SELECT_ALL", { 400, 112, 80, 20 } },
                 { "VST3", { 20, 150, 225, 50 } }, { "CLAP", { 255, 150, 225, 50 } }, { "AAX", { 20, 210, 225, 50 } },
                 { "hint", { 20, 450, 460, 15 } } } },
        { 1000, { { "EULA", { 40, 735, 100, 100 } }, { "MANUAL", { 155, 735, 100, 100 } }, { "WEBSITE", { 270, 735, 100, 100 } },
                  { "SUPPORT", { 385, 735, 100, 100 } }, { "INSTALL", { 860, 735, 100, 100 } }, { "SELECT_ALL", { 800, 225, 160, 40 } },
                  { "VST3", { 40, 300, 450, 100 } }, { "CLAP", { 510, 300, 450, 100 } }, { "AAX", { 40, 420, 450, 100 } },
                  { "hint", { 40, 900, 920, 30 } } } },
        { 128, { { "EULA", { 5, 94, 13, 13 } }, { "MANUAL", { 20, 94, 13, 13 } }, { "WEBSITE", { 35, 94, 13, 13 } },
                 { "SUPPORT", { 49, 94, 13, 13 } }, { "INSTALL", { 110, 94, 13, 13 } }, { "SELECT_ALL", { 102, 29, 20, 5 } },
                 { "VST3", { 5, 38, 58, 13 } }, { "CLAP", { 65, 38, 58, 13 } }, { "AAX", { 5, 54, 58, 13 } },
                 { "hint", { 5, 115, 118, 4 } } } },
    };

    /** The layout at one of the sizes above; null for any other. */
    inline const Layout* layoutAt (int size)
    {
        for (auto& l : layouts)
            if (l.size == size)
                return &l;

        return nullptr;
    }

    inline const juce::Colour background { 0xff111111 };
    inline const juce::Colour ink        { 0xff171717 };
    inline const juce::Colour text       { 0xfff5f5f5 };
    inline const juce::Colour muted      { 0xffaaa6a6 };
    inline const juce::Colour accent     { 0xff86cf7a };
    inline const juce::Colour brand      { 0xff0094d8 };
    inline const juce::Colour selection  { 0xffd3c55f };
}
