#include "PayloadDirectory.h"

#include "Utf8.h"

#include <cstring>

namespace
{
juce::uint16 read16 (const juce::uint8* p) noexcept   { return (juce::uint16) (p[0] | (p[1] << 8)); }
juce::uint32 read32 (const juce::uint8* p) noexcept   { return (juce::uint32) read16 (p) | ((juce::uint32) read16 (p + 2) << 16); }
} // namespace

juce::Time DirectoryRecord::time() const
{
    return juce::Time (1980 + (int) (dosDate >> 9), (int) ((dosDate >> 5) & 15) - 1, (int) (dosDate & 31),
                       (int) (dosTime >> 11), (int) ((dosTime >> 5) & 63), (int) ((dosTime & 31) << 1));
}

bool readCentralDirectory (const PayloadArchive& archive, std::vector<DirectoryRecord>& records)
{
    const auto* bytes = static_cast<const juce::uint8*> (archive.data);
    const auto size = archive.size;

    if (bytes == nullptr || size < 22)
        return false;

    // The end record sits in the last 22 bytes, or further back by a comment.
    size_t end = 0;
    bool found = false;

    for (size_t pos = size - 22;; --pos)
    {
        if (read32 (bytes + pos) == 0x06054b50 && pos + 22 + read16 (bytes + pos + 20) == size)
        {
            end = pos;
            found = true;
            break;
        }

        if (pos == 0 || size - pos > 22 + 0xffff)
            break;
    }

    if (! found)
        return false;

    const auto numEntries = read16 (bytes + end + 10);
    const size_t directorySize = read32 (bytes + end + 12);
    const size_t directoryStart = read32 (bytes + end + 16);

    if (read16 (bytes + end + 4) != 0 || read16 (bytes + end + 6) != 0
         || read16 (bytes + end + 8) != numEntries
         || directoryStart > end || directorySize > end - directoryStart)
        return false;

    records.clear();
    size_t pos = directoryStart;
    const size_t directoryEnd = directoryStart + directorySize;

    for (int i = 0; i < numEntries; ++i)
    {
        if (directoryEnd - pos < 46 || read32 (bytes + pos) != 0x02014b50)
            return false;

        const auto* r = bytes + pos;
        const auto flags = read16 (r + 8);
        const auto method = read16 (r + 10);
        const auto compressedSize = read32 (r + 20);
        const auto uncompressedSize = read32 (r + 24);
        const size_t nameLength = read16 (r + 28);
        const size_t recordLength = 46 + nameLength + read16 (r + 30) + read16 (r + 32);
        const auto externalAttributes = read32 (r + 38);
        const size_t localHeader = read32 (r + 42);

        if (directoryEnd - pos < recordLength
             || (flags & 1) != 0                                     // encrypted
             || (method != 0 && method != 8)
             || compressedSize == 0xffffffff || uncompressedSize == 0xffffffff
             || ((externalAttributes >> 28) & 0xf) == 0xa)           // a symbolic link
            return false;

        // The entry's data must lie inside the archive, before the directory.
        if (localHeader > directoryStart || directoryStart - localHeader < 30
             || read32 (bytes + localHeader) != 0x04034b50)
            return false;

        const size_t dataStart = localHeader + 30 + read16 (bytes + localHeader + 26)
                                                  + read16 (bytes + localHeader + 28);

        if (dataStart > directoryStart || directoryStart - dataStart < compressedSize)
            return false;

        // Names are UTF-8, whole, and without NUL: the framework's strings copy
        // past their ends on broken UTF-8, and a NUL would cut a name short.
        if (! isWellFormedUtf8 (r + 46, nameLength) || std::memchr (r + 46, 0, nameLength) != nullptr)
            return false;

        DirectoryRecord record;
        record.dosTime = read16 (r + 12);
        record.dosDate = read16 (r + 14);
        record.name = juce::String::fromUTF8 (reinterpret_cast<const char*> (r + 46), (int) nameLength);
        record.crc = read32 (r + 16);
        record.compressedSize = compressedSize;
        record.uncompressedSize = uncompressedSize;
        record.isDeflated = method == 8;
        record.data = bytes + dataStart;
        record.isDirectory = record.name.endsWithChar ('\\') || record.name.endsWithChar ('/');
        records.push_back (record);

        pos += recordLength;
    }

    return true;
}
