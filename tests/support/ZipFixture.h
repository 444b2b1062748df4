#pragma once

#include <juce_core/juce_core.h>
#include <optional>
#include <vector>

/** Builds small archives in the payload form: backslash separators, stored
    directory entries with sizes and CRC 0, deflated files, version 2.0 made
    on MS-DOS, no extra fields, no comments, a fixed DOS time stamp. Damage can
    be asked for on the entry added last. */
class ZipFixture
{
public:
    /** The time stamp every entry carries: 2024-03-15 10:20:30, local time. */
    static juce::Time entryTime();

    /** A folder entry; the trailing backslash is added. */
    ZipFixture& directory (const juce::String& name);
    ZipFixture& file (const juce::String& name, const juce::MemoryBlock& content);
    ZipFixture& file (const juce::String& name, const juce::String& text);

    /** The central and local CRC no longer match the (intact) data. */
    ZipFixture& withWrongCrc();
    /** The deflate stream starts with a reserved block type: inflate refuses it. */
    ZipFixture& withBadDeflateData();
    /** One bit flipped in the middle of the compressed data. */
    ZipFixture& withFlippedBit();
    /** Only the first half of the compressed data, and both records say so. */
    ZipFixture& withCutData();
    /** Stored as it is (method 0) instead of deflated. */
    ZipFixture& asStored();
    /** Both records promise this many bytes of content, whatever the content is. */
    ZipFixture& withClaimedSize (juce::uint32 size);
    /** Both records carry these general-purpose flags (bit 0: encrypted). */
    ZipFixture& withFlags (juce::uint16 flags);
    /** Both records name this compression method; the data stays deflated. */
    ZipFixture& withMethod (juce::uint16 method);
    /** Both records give this compressed size, whatever the data's length. */
    ZipFixture& withCompressedSize (juce::uint32 size);
    /** Marked as a symbolic link (Unix mode in the external attributes); the
        content is the link target. */
    ZipFixture& asSymbolicLink();

    juce::MemoryBlock build() const;

    /** Compressible content of the given size, different for each seed. */
    static juce::MemoryBlock sampleContent (size_t size, int seed);

private:
    struct Entry
    {
        juce::String name;
        juce::MemoryBlock content;
        bool isDirectory = false;
        bool wrongCrc = false, badDeflate = false, flippedBit = false, cut = false, symbolicLink = false, stored = false;
        std::optional<juce::uint32> claimedSize {}, compressedSize {};
        std::optional<juce::uint16> method {};
        juce::uint16 flags = 0;
    };

    Entry& last();
    std::vector<Entry> entries;
};
