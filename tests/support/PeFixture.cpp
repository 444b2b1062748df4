#include "PeFixture.h"

#include <vector>

namespace
{
    constexpr size_t peOffset = 0x80;
    constexpr size_t textOffset = 0x200, textSize = 0x200;
    constexpr juce::uint32 textRva = 0x1000;
    constexpr size_t resourcesOffset = 0x400;
    constexpr juce::uint32 resourcesRva = 0x3000;

    size_t alignUp (size_t value, size_t alignment)  { return (value + alignment - 1) / alignment * alignment; }

    juce::uint32 high (const std::array<juce::uint16, 4>& v)  { return ((juce::uint32) v[0] << 16) | v[1]; }
    juce::uint32 low (const std::array<juce::uint16, 4>& v)   { return ((juce::uint32) v[2] << 16) | v[3]; }

    juce::MemoryBlock versionInfo (const std::array<juce::uint16, 4>& file, const std::array<juce::uint16, 4>& product)
    {
        const juce::String key ("VS_VERSION_INFO");
        juce::MemoryBlock block (6 + 32 + 2 + 52, true);

        PeFixture::putU16 (block, 0, (juce::uint16) block.getSize());   // wLength
        PeFixture::putU16 (block, 2, 52);                                // wValueLength
        PeFixture::putU16 (block, 4, 0);                                 // wType: binary

        for (int i = 0; i < key.length(); ++i)
            PeFixture::putU16 (block, 6 + 2 * (size_t) i, (juce::uint16) key[i]);

        const size_t fixed = 40;   // after the key's terminator and two bytes of padding
        const juce::uint32 values[] = { 0xFEEF04BD, 0x00010000,
                                        high (file), low (file), high (product), low (product),
                                        0x3f, 0, 0x00040004, 2, 0, 0, 0 };

        for (size_t i = 0; i < 13; ++i)
            PeFixture::putU32 (block, fixed + 4 * i, values[i]);

        return block;
    }
}

void PeFixture::putU16 (juce::MemoryBlock& bytes, size_t offset, juce::uint16 value)
{
    jassert (offset + 2 <= bytes.getSize());
    bytes[offset] = (char) (value & 0xff);
    bytes[offset + 1] = (char) (value >> 8);
}

void PeFixture::putU32 (juce::MemoryBlock& bytes, size_t offset, juce::uint32 value)
{
    putU16 (bytes, offset, (juce::uint16) (value & 0xffff));
    putU16 (bytes, offset + 2, (juce::uint16) (value >> 16));
}

juce::MemoryBlock PeFixture::build (Layout* layoutOut) const
{
    struct Resource { juce::uint16 type; juce::MemoryBlock data; };
    std::vector<Resource> resources;

    resources.push_back ({ 3, juce::MemoryBlock (40, true) });

    if (withVersion)
        resources.push_back ({ 16, versionInfo (fileVersion, productVersion) });

    const juce::String manifest ("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>");
    resources.push_back ({ 24, juce::MemoryBlock (manifest.toRawUTF8(), manifest.getNumBytesAsUTF8()) });

    // The tree: root, then one name directory and one language directory per
    // type, then the data entries, then the data.
    const auto n = resources.size();
    const size_t rootSize = 16 + 8 * n;
    const auto nameDir = [&] (size_t i) { return rootSize + 24 * i; };
    const auto languageDir = [&] (size_t i) { return rootSize + 24 * n + 24 * i; };
    const auto dataEntry = [&] (size_t i) { return rootSize + 48 * n + 16 * i; };

    std::vector<size_t> dataOffsets;
    auto end = alignUp (dataEntry (n), 4);

    for (auto& r : resources)
    {
        dataOffsets.push_back (end);
        end = alignUp (end + r.data.getSize(), 4);
    }

    const auto resourcesSize = end;
    const auto resourcesRawSize = alignUp (resourcesSize, 0x200);

    juce::MemoryBlock bytes (resourcesOffset + resourcesRawSize, true);
    Layout layout;

    // DOS header: the magic and where the PE header lies.
    bytes[0] = 'M';
    bytes[1] = 'Z';
    putU32 (bytes, 0x3c, (juce::uint32) peOffset);

    layout.peHeader = peOffset;
    bytes[peOffset] = 'P';
    bytes[peOffset + 1] = 'E';

    const auto optionalSize = (juce::uint16) (pe32Plus ? 112 + 16 * 8 : 96 + 16 * 8);
    const auto coff = peOffset + 4;
    putU16 (bytes, coff, pe32Plus ? 0x8664 : 0x14c);
    putU16 (bytes, coff + 2, 2);
    putU16 (bytes, coff + 16, optionalSize);
    putU16 (bytes, coff + 18, pe32Plus ? 0x2022 : 0x2102);

    const auto opt = coff + 20;
    layout.optionalHeader = opt;
    putU16 (bytes, opt, pe32Plus ? 0x20b : 0x10b);
    putU32 (bytes, opt + 4, (juce::uint32) textSize);
    putU32 (bytes, opt + 20, textRva);

    if (pe32Plus)
    {
        putU32 (bytes, opt + 24, 0x80000000);   // ImageBase, low half
        putU32 (bytes, opt + 28, 0x1);
    }
    else
    {
        putU32 (bytes, opt + 24, resourcesRva);
        putU32 (bytes, opt + 28, 0x10000000);
    }

    putU32 (bytes, opt + 32, 0x1000);
    putU32 (bytes, opt + 36, 0x200);
    putU16 (bytes, opt + 40, 6);
    putU16 (bytes, opt + 48, 6);
    putU32 (bytes, opt + 56, resourcesRva + (juce::uint32) alignUp (resourcesSize, 0x1000));
    putU32 (bytes, opt + 60, (juce::uint32) textOffset);
    putU16 (bytes, opt + 68, 2);
    putU16 (bytes, opt + 70, 0x160);

    const size_t countField = pe32Plus ? 108 : 92;
    putU32 (bytes, opt + countField, 16);
    layout.resourceDirEntry = opt + countField + 4 + 2 * 8;
    putU32 (bytes, layout.resourceDirEntry, resourcesRva);
    putU32 (bytes, layout.resourceDirEntry + 4, (juce::uint32) resourcesSize);

    // Section table: .text, then .rsrc.
    layout.sectionTable = opt + optionalSize;
    const auto putSection = [&] (size_t at, const char* name, size_t virtualSize, juce::uint32 rva,
                                 size_t rawSize, size_t rawOffset, juce::uint32 characteristics)
    {
        for (size_t i = 0; name[i] != 0; ++i)
            bytes[at + i] = name[i];

        putU32 (bytes, at + 8, (juce::uint32) virtualSize);
        putU32 (bytes, at + 12, rva);
        putU32 (bytes, at + 16, (juce::uint32) rawSize);
        putU32 (bytes, at + 20, (juce::uint32) rawOffset);
        putU32 (bytes, at + 36, characteristics);
    };

    putSection (layout.sectionTable, ".text", 0x10, textRva, textSize, textOffset, 0x60000020);
    putSection (layout.sectionTable + 40, ".rsrc", resourcesSize, resourcesRva,
                resourcesRawSize, resourcesOffset, 0x40000040);

    for (size_t i = 0; i < 0x10; ++i)
        bytes[textOffset + i] = (char) 0xc3;   // ret

    // The resource tree.
    const auto rsrc = resourcesOffset;
    layout.resources = rsrc;
    layout.resourcesRva = resourcesRva;

    const auto putDirectory = [&] (size_t at, juce::uint32 id, juce::uint32 target)
    {
        putU16 (bytes, rsrc + at + 14, 1);
        putU32 (bytes, rsrc + at + 16, id);
        putU32 (bytes, rsrc + at + 20, target);
    };

    putU16 (bytes, rsrc + 14, (juce::uint16) n);

    for (size_t i = 0; i < n; ++i)
    {
        const auto entry = rsrc + 16 + 8 * i;
        putU32 (bytes, entry, resources[i].type);
        putU32 (bytes, entry + 4, 0x80000000u | (juce::uint32) nameDir (i));

        putDirectory (nameDir (i), 1, 0x80000000u | (juce::uint32) languageDir (i));
        putDirectory (languageDir (i), 0x409, (juce::uint32) dataEntry (i));

        putU32 (bytes, rsrc + dataEntry (i), resourcesRva + (juce::uint32) dataOffsets[i]);
        putU32 (bytes, rsrc + dataEntry (i) + 4, (juce::uint32) resources[i].data.getSize());
        bytes.copyFrom (resources[i].data.getData(), (int) (rsrc + dataOffsets[i]), resources[i].data.getSize());

        if (resources[i].type == 16)
        {
            layout.versionTypeEntry = entry;
            layout.versionDataEntry = rsrc + dataEntry (i);
            layout.versionInfo = rsrc + dataOffsets[i];
            layout.fixedInfoEnd = layout.versionInfo + resources[i].data.getSize();
        }
    }

    if (layoutOut != nullptr)
        *layoutOut = layout;

    return bytes;
}
