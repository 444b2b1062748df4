#include "PeVersion.h"

#include <cstring>
#include <optional>

namespace
{
    constexpr juce::uint16 rtVersion = 16;
    constexpr juce::uint32 fixedFileInfoSignature = 0xFEEF04BD;
    constexpr juce::uint32 highBit = 0x80000000u;

    constexpr int peSignatureSize = 4;
    constexpr int fileHeaderSize = 20;
    constexpr int sectionHeaderSize = 40;
    constexpr int resourceDirectorySize = 16;
    constexpr int resourceEntrySize = 8;
    constexpr int resourceDataEntrySize = 16;
    constexpr int fixedFileInfoSize = 52;

    // A module has a handful of sections and resource types; anything far
    // beyond this is not a file worth walking.
    constexpr int maxSections = 96;
    constexpr int maxDirectoryEntries = 4096;

    juce::uint16 u16 (const juce::uint8* p) noexcept  { return (juce::uint16) (p[0] | (p[1] << 8)); }
    juce::uint32 u32 (const juce::uint8* p) noexcept  { return (juce::uint32) u16 (p) | ((juce::uint32) u16 (p + 2) << 16); }

    struct Section
    {
        juce::uint32 virtualAddress, virtualSize, rawSize, rawOffset;
    };

    /** Reads little-endian structures at checked offsets of one open file, or of a module in memory. */
    class PeFile
    {
    public:
        explicit PeFile (const FileOps::Handle& f) : file (&f)
        {
            fileSize = juce::jmax ((juce::int64) 0, FileOps::sizeOf (f));
        }

        PeFile (const void* data, size_t size)
            : memory (static_cast<const juce::uint8*> (data)), fileSize ((juce::int64) size)
        {
        }

        /** Copies size bytes at offset into dest; false unless all of them lie inside the file. */
        bool read (juce::int64 offset, void* dest, int size)
        {
            if (offset < 0 || size < 0 || offset > fileSize || (juce::int64) size > fileSize - offset)
                return false;

            if (memory != nullptr)
            {
                std::memcpy (dest, memory + offset, (size_t) size);
                return true;
            }

            return FileOps::readAt (*file, (juce::uint64) offset, dest, (size_t) size);
        }

        bool readSections()
        {
            juce::uint8 dos[64];

            if (! read (0, dos, (int) sizeof (dos)) || dos[0] != 'M' || dos[1] != 'Z')
                return false;

            const juce::int64 peOffset = u32 (dos + 0x3c);
            juce::uint8 header[peSignatureSize + fileHeaderSize];

            if (! read (peOffset, header, (int) sizeof (header))
                || header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0)
                return false;

            const int numSections = u16 (header + peSignatureSize + 2);
            const int optionalHeaderSize = u16 (header + peSignatureSize + 16);
            const auto optionalOffset = peOffset + (juce::int64) sizeof (header);

            if (numSections == 0 || numSections > maxSections)
                return false;

            // The resource entry of the data directory: index 2, eight bytes each.
            juce::uint8 optional[136];

            if (optionalHeaderSize < 2 || ! read (optionalOffset, optional, juce::jmin (optionalHeaderSize, (int) sizeof (optional))))
                return false;

            const auto magic = u16 (optional);
            const int countOffset = magic == 0x10b ? 92 : magic == 0x20b ? 108 : -1;

            if (countOffset < 0 || optionalHeaderSize < countOffset + 4)
                return false;

            const auto directoryOffset = countOffset + 4 + 2 * 8;

            if (u32 (optional + countOffset) < 3 || optionalHeaderSize < directoryOffset + 8)
                return false;

            resourceRva = u32 (optional + directoryOffset);

            if (resourceRva == 0 || u32 (optional + directoryOffset + 4) == 0)
                return false;

            juce::HeapBlock<juce::uint8> table ((size_t) numSections * sectionHeaderSize);

            if (! read (optionalOffset + optionalHeaderSize, table, numSections * sectionHeaderSize))
                return false;

            for (int i = 0; i < numSections; ++i)
            {
                const auto* s = table + i * sectionHeaderSize;
                sections.push_back ({ u32 (s + 12), u32 (s + 8), u32 (s + 16), u32 (s + 20) });
            }

            return true;
        }

        /** The file offset of size bytes at rva, when they all lie in one section's data in the file. */
        std::optional<juce::int64> fileOffset (juce::uint64 rva, juce::uint32 size) const
        {
            for (auto& s : sections)
            {
                if (rva < s.virtualAddress)
                    continue;

                const auto delta = rva - s.virtualAddress;
                const auto extent = (juce::uint64) (s.virtualSize != 0 ? juce::jmin (s.virtualSize, s.rawSize) : s.rawSize);

                if (delta < extent && (juce::uint64) size <= extent - delta)
                    return (juce::int64) s.rawOffset + (juce::int64) delta;
            }

            return {};
        }

        /** Reads a resource structure at an offset from the start of the resource directory. */
        bool readResource (juce::uint32 offset, void* dest, int size)
        {
            const auto where = fileOffset ((juce::uint64) resourceRva + offset, (juce::uint32) size);
            return where.has_value() && read (*where, dest, size);
        }

        /** The OffsetToData of the first entry of a resource directory whose id is
            wantedId (or of its first entry at all when wantedId is negative). */
        std::optional<juce::uint32> findEntry (juce::uint32 directory, int wantedId)
        {
            juce::uint8 header[resourceDirectorySize];

            if (! readResource (directory, header, (int) sizeof (header)))
                return {};

            const int numNamed = u16 (header + 12);
            const int numIds = u16 (header + 14);
            const int count = numNamed + numIds;

            if (count == 0 || count > maxDirectoryEntries)
                return {};

            juce::HeapBlock<juce::uint8> entries ((size_t) count * resourceEntrySize);

            if (! readResource (directory + resourceDirectorySize, entries, count * resourceEntrySize))
                return {};

            if (wantedId < 0)
                return u32 (entries + 4);

            // Named entries come first; ids are never named.
            for (int i = numNamed; i < count; ++i)
            {
                const auto* e = entries + i * resourceEntrySize;

                if (u32 (e) == (juce::uint32) wantedId)
                    return u32 (e + 4);
            }

            return {};
        }

        juce::String readVersion()
        {
            if (! readSections())
                return {};

            // type RT_VERSION -> first name -> first language -> data entry.
            const auto type = findEntry (0, rtVersion);

            if (! type || (*type & highBit) == 0)
                return {};

            const auto name = findEntry (*type & ~highBit, -1);

            if (! name || (*name & highBit) == 0)
                return {};

            const auto language = findEntry (*name & ~highBit, -1);

            if (! language || (*language & highBit) != 0)
                return {};

            juce::uint8 dataEntry[resourceDataEntrySize];

            if (! readResource (*language, dataEntry, (int) sizeof (dataEntry)))
                return {};

            // VS_VERSIONINFO: wLength, wValueLength, wType, the key "VS_VERSION_INFO"
            // in UTF-16 with its terminator, padding to 32 bits, then VS_FIXEDFILEINFO.
            static constexpr char key[] = "VS_VERSION_INFO";
            constexpr int keyBytes = (int) sizeof (key) * 2;
            constexpr int valueOffset = (6 + keyBytes + 3) & ~3;
            constexpr int needed = valueOffset + fixedFileInfoSize;

            const auto dataRva = u32 (dataEntry);
            const auto dataSize = u32 (dataEntry + 4);

            if (dataSize < (juce::uint32) needed)
                return {};

            const auto where = fileOffset (dataRva, (juce::uint32) needed);
            juce::uint8 info[needed];

            if (! where || ! read (*where, info, needed))
                return {};

            if (u16 (info) < needed || u16 (info + 2) < fixedFileInfoSize)
                return {};

            for (int i = 0; i < (int) sizeof (key); ++i)
                if (u16 (info + 6 + 2 * i) != (juce::uint16) key[i])
                    return {};

            const auto* fixed = info + valueOffset;

            if (u32 (fixed) != fixedFileInfoSignature)
                return {};

            const auto ms = u32 (fixed + 8);
            const auto ls = u32 (fixed + 12);

            return juce::String (ms >> 16) + "." + juce::String (ms & 0xffff) + "."
                 + juce::String (ls >> 16) + "." + juce::String (ls & 0xffff);
        }

    private:
        const FileOps::Handle* file = nullptr;
        const juce::uint8* memory = nullptr;
        juce::int64 fileSize = 0;
        juce::uint32 resourceRva = 0;
        std::vector<Section> sections;
    };
}

std::function<void()>& versionProbeSeam()
{
    static std::function<void()> seam;
    return seam;
}

juce::String readModuleVersion (const FileOps::Handle& file)
{
    if (! file.isValid())
        return {};

    if (auto& seam = versionProbeSeam())
        seam();

    return PeFile (file).readVersion();
}

juce::String readModuleVersion (const void* data, size_t size)
{
    return data != nullptr ? PeFile (data, size).readVersion() : juce::String();
}

juce::String readFileVersion (const juce::File& file)
{
    // Opened once, without blocking and not through a link at its name, and
    // checked on that handle: a pipe swapped in later cannot hold us up.
    return readModuleVersion (FileOps::openForReading (file));
}
