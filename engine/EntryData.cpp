#include "EntryData.h"

#include "InstallerHooks.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <vector>

#if JUCE_LINUX
 #include <sys/mman.h>
#endif

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

/** Inflates a whole entry into dest, which holds exactly its promised size.
    True only when exactly that many bytes came out and their CRC-32 matches. */
bool inflateWhole (const DirectoryRecord& record, juce::uint8* dest)
{
    const size_t size = record.uncompressedSize;

    if (! record.isDeflated)
    {
        if (record.compressedSize != size)
            return false;

        const PartTimer timer (&InstallerHooks::Timings::inflate);
        std::memcpy (dest, record.data, size);
    }
    else
    {
        const PartTimer timer (&InstallerHooks::Timings::inflate);
        const std::unique_ptr<libdeflate_decompressor, void (*) (libdeflate_decompressor*)>
            decompressor (libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
        size_t produced = 0;

        // More than promised stops as "insufficient space"; less shows in the count.
        if (decompressor == nullptr
             || libdeflate_deflate_decompress_ex (decompressor.get(), record.data, record.compressedSize,
                                                  dest, size, nullptr, &produced) != LIBDEFLATE_SUCCESS
             || produced != size)
            return false;
    }

    const PartTimer timer (&InstallerHooks::Timings::crc);
    return libdeflate_crc32 (0, dest, size) == record.crc;
}

bool streamVerified (const DirectoryRecord& record, const FileOps::Handle& file)
{
    std::vector<char> buffer (256 * 1024);
    const PartTimer timer (&InstallerHooks::Timings::inflate);

    return copyVerified (record, buffer, [&file] (const char* data, size_t size) { return FileOps::write (file, data, size); });
}

using EntryOutput = InstallerHooks::EntryOutput;

EntryOutput outputFor (const DirectoryRecord& record)
{
    const auto forced = installerHooks().entryOutput;

    if (forced != EntryOutput::bySize)
        return forced;

    return record.uncompressedSize <= wholeEntryLimit ? EntryOutput::memory : EntryOutput::mapped;
}
} // namespace

//==============================================================================
juce::uint8* EntryBuffer::get (size_t size)
{
    if (size > capacity)
    {
        block.reset();
        capacity = 0;

       #if JUCE_LINUX
        // Fresh pages cost a fault each: on huge pages a module's 32 MiB take 16
        // faults instead of 8,192. Only whole huge pages inside size are asked
        // for, so the buffer never holds more memory than the entry.
        constexpr size_t hugePage = (size_t) 2 << 20;
        void* memory = nullptr;

        if (posix_memalign (&memory, hugePage, size) != 0)
            return nullptr;

        block.reset (static_cast<juce::uint8*> (memory));

        if (const auto whole = size & ~(hugePage - 1); whole > 0)
            madvise (memory, whole, MADV_HUGEPAGE);
       #else
        block.reset (static_cast<juce::uint8*> (std::malloc (size)));
       #endif

        if (block == nullptr)
            return nullptr;

        capacity = size;
    }

    return block.get();
}

bool writeEntryData (const DirectoryRecord& record, const FileOps::Handle& file, EntryBuffer& buffer)
{
    if (record.uncompressedSize == 0)
    {
        juce::uint8 nothing = 0;
        return inflateWhole (record, &nothing);
    }

    switch (outputFor (record))
    {
        case EntryOutput::memory:
            if (auto* memory = buffer.get (record.uncompressedSize))
            {
                if (! inflateWhole (record, memory))
                    return false;

                const PartTimer timer (&InstallerHooks::Timings::write);
                return FileOps::write (file, memory, record.uncompressedSize);
            }

            break;   // memory is short: stream it

        case EntryOutput::mapped:
            if (const auto mapped = FileOps::mapForWriting (file, record.uncompressedSize); mapped.isValid())
                return inflateWhole (record, mapped.data());

            break;   // no space promised, or no map here: stream it, which fails cleanly on a full disk

        case EntryOutput::bySize:
        case EntryOutput::streamed:
            break;
    }

    return streamVerified (record, file);
}
