// The version reader over fuzzed module files. Whatever the bytes, the answer
// is the empty text or four numbers of 16 bits, "a.b.c.d".
#include "FuzzSandbox.h"
#include "PeVersion.h"

namespace
{
    juce::File module;

    bool isVersionText (const juce::String& text)
    {
        juce::StringArray parts;
        parts.addTokens (text, ".", {});

        if (parts.size() != 4)
            return false;

        for (auto& p : parts)
            if (p.isEmpty() || ! p.containsOnly ("0123456789") || p.length() > 5 || p.getIntValue() > 0xffff
                 || (p.length() > 1 && p[0] == '0'))
                return false;

        return true;
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    const auto workspace = FuzzSandbox::makeWorkspace ("pe");
    FuzzSandbox::removeAtExit (workspace);
    module = workspace.getChildFile ("Velquin.vst3");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    FuzzSandbox::writeFile (module, data, size);

    const auto version = readFileVersion (module);

    if (version.isNotEmpty() && ! isVersionText (version))
        FuzzSandbox::fail ("not a version: \"" + version + "\"");

    return 0;
}
