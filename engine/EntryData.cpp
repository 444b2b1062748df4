#include "EntryData.h"

#include <zlib.h>
#include <cstring>
#include <vector>

namespace
{
//==============================================================================
/** Reads an entry's content straight out of the archive's memory: zlib inflates
    from the stored bytes into the caller's buffer, with no copy in between. */
class EntryReader
{
public:
    explicit EntryReader (const DirectoryRecord& r) : record (r)
    {
        if (record.isDeflated)
        {
            stream.next_in = const_cast<Bytef*> (record.data);
            stream.avail_in = record.compressedSize;
            good = initialised = inflateInit2 (&stream, -MAX_WBITS) == Z_OK;
        }
    }

    ~EntryReader()
    {
        if (initialised)
            inflateEnd (&stream);
    }

    /** Up to size bytes of content; 0 at the end, -1 when the data is damaged. */
    int read (char* dest, int size)
    {
        if (! good)
            return -1;

        if (! record.isDeflated)
        {
            const auto n = (int) std::min ((juce::uint64) size, (juce::uint64) record.compressedSize - position);
            std::memcpy (dest, record.data + position, (size_t) n);
            position += (juce::uint64) n;
            return n;
        }

        if (finished)
            return 0;

        stream.next_out = reinterpret_cast<Bytef*> (dest);
        stream.avail_out = (uInt) size;
        const auto result = inflate (&stream, Z_NO_FLUSH);
        const auto produced = size - (int) stream.avail_out;

        if (result == Z_STREAM_END)
            finished = true;
        else if (result != Z_OK || produced == 0)
            good = false;   // bad data, or the stored bytes end before the stream does

        return good ? produced : -1;
    }

private:
    const DirectoryRecord& record;
    z_stream stream {};
    juce::uint64 position = 0;
    bool good = true, initialised = false, finished = false;

    JUCE_DECLARE_NON_COPYABLE (EntryReader)
};

/** Inflates one entry through the buffer into write(), checking the size and
    CRC-32 of what came out against the central directory. */
template <typename WriteFn>
bool copyVerified (const DirectoryRecord& record, std::vector<char>& buffer, WriteFn&& write)
{
    EntryReader in (record);
    juce::uint64 written = 0;
    uLong crc = crc32 (0, nullptr, 0);

    for (;;)
    {
        const auto n = in.read (buffer.data(), (int) buffer.size());

        if (n < 0)
            return false;

        if (n == 0)
            break;

        written += (juce::uint64) n;
        crc = crc32 (crc, reinterpret_cast<const Bytef*> (buffer.data()), (uInt) n);

        if (written > record.uncompressedSize || ! write (buffer.data(), (size_t) n))
            return false;
    }

    return written == record.uncompressedSize && (juce::uint32) crc == record.crc;
}

} // namespace

bool writeEntryData (const DirectoryRecord& record, const FileOps::Handle& file)
{
    // Inflate, CRC and write while the block is still in cache.
    std::vector<char> buffer (256 * 1024);

    return copyVerified (record, buffer, [&file] (const char* data, size_t size) { return FileOps::write (file, data, size); });
}
