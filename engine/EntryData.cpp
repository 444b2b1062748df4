#include "EntryData.h"

#include "InstallerHooks.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <limits>
#include <memory>
#include <vector>

namespace
{
/** A stored entry goes to the file straight from the archive's memory. */
bool writeStored (const DirectoryRecord& record, const FileOps::Handle& file)
{
    if (record.compressedSize != record.uncompressedSize)
        return false;

    {
        const PartTimer timer (&InstallerHooks::Timings::crc);

        if (crc32_gzip_refl (0, record.data, record.uncompressedSize) != record.crc)
            return false;
    }

    const PartTimer timer (&InstallerHooks::Timings::write);
    return FileOps::write (file, record.data, (size_t) record.uncompressedSize);
}
} // namespace

//==============================================================================
// The piece stays in the processor's cache while it is filled and written.
constexpr juce::uint32 pieceSize = 256 * 1024;

EntryWriter::EntryWriter() : state (std::make_unique<inflate_state>()), piece (pieceSize) {}

EntryWriter::~EntryWriter() = default;

bool EntryWriter::write (const DirectoryRecord& record, const FileOps::Handle& file)
{
    return record.isDeflated ? writeDeflated (record, file) : writeStored (record, file);
}

/** Inflates an entry piece by piece into the file, the CRC-32 taken by the
    inflate as it goes, so memory stays the same whatever the entry's size and
    no page is touched twice. Every few megabytes what is written starts on its
    way to the disk, so the sync before the swap finds little left to do. */
bool EntryWriter::writeDeflated (const DirectoryRecord& record, const FileOps::Handle& file)
{
    constexpr juce::uint64 writebackEvery = (juce::uint64) 8 << 20;

    if (record.compressedSize > std::numeric_limits<juce::uint32>::max())
        return false;

    isal_inflate_init (state.get());
    state->crc_flag = ISAL_GZIP_NO_HDR;   // raw deflate, with the gzip (= zip) CRC-32 of the output
    state->next_in = const_cast<juce::uint8*> (record.data);
    state->avail_in = (juce::uint32) record.compressedSize;

    juce::uint64 written = 0, sentToDisk = 0;

    while (state->block_state != ISAL_BLOCK_FINISH)
    {
        const auto inputBefore = state->avail_in;
        state->next_out = piece.data();
        state->avail_out = pieceSize;

        {
            const PartTimer timer (&InstallerHooks::Timings::inflate);

            if (isal_inflate (state.get()) != ISAL_DECOMP_OK)
                return false;
        }

        const auto produced = pieceSize - state->avail_out;

        // Nothing came out and nothing was taken: the stored bytes end before the stream does.
        if (produced == 0 && state->avail_in == inputBefore && state->block_state != ISAL_BLOCK_FINISH)
            return false;

        written += produced;

        if (written > record.uncompressedSize)
            return false;

        const PartTimer timer (&InstallerHooks::Timings::write);

        if (! FileOps::write (file, piece.data(), produced))
            return false;

        if (written - sentToDisk >= writebackEvery && durableAtAll())
        {
            FileOps::startWriteback (file);
            sentToDisk = written;
        }
    }

    return written == record.uncompressedSize && state->crc == record.crc;
}
