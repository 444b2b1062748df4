#pragma once

#include <juce_core/juce_core.h>
#include <array>

/** A small Windows PE module built in memory, for tests of the version reader.

    Two sections, .text and .rsrc, at virtual addresses that differ from their
    file offsets. The resource tree holds an RT_ICON and an RT_MANIFEST entry
    around the RT_VERSION one (type -> id 1 -> language 0x409 -> data), so a
    reader has to search the type level and map every address. The version
    resource is a VS_VERSIONINFO with a VS_FIXEDFILEINFO and nothing else.
*/
struct PeFixture
{
    bool pe32Plus = true;
    bool withVersion = true;
    std::array<juce::uint16, 4> fileVersion { 1, 2, 3, 4 };
    std::array<juce::uint16, 4> productVersion { 9, 8, 7, 6 };   ///< deliberately not the file version

    /** File offsets of the parts a test may want to damage. */
    struct Layout
    {
        size_t peHeader = 0;         ///< "PE\0\0"
        size_t optionalHeader = 0;
        size_t resourceDirEntry = 0; ///< data directory entry 2 (RVA, size)
        size_t sectionTable = 0;
        size_t resources = 0;        ///< start of .rsrc, the root resource directory
        juce::uint32 resourcesRva = 0;
        size_t versionTypeEntry = 0; ///< root directory entry of RT_VERSION
        size_t versionDataEntry = 0; ///< IMAGE_RESOURCE_DATA_ENTRY of the version
        size_t versionInfo = 0;      ///< VS_VERSIONINFO
        size_t fixedInfoEnd = 0;     ///< first byte after VS_FIXEDFILEINFO
    };

    juce::MemoryBlock build (Layout* layout = nullptr) const;

    static void putU16 (juce::MemoryBlock& bytes, size_t offset, juce::uint16 value);
    static void putU32 (juce::MemoryBlock& bytes, size_t offset, juce::uint32 value);
};
