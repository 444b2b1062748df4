#pragma once

#include "FileOps.h"
#include "PayloadDirectory.h"

#include <cstdlib>
#include <memory>

/** Memory that whole entries are inflated into before they are written. One
    install operation keeps one, so its pages are paid for once. */
class EntryBuffer
{
public:
    EntryBuffer() = default;

    /** At least size bytes, or nullptr when that much memory is not to be had. */
    juce::uint8* get (size_t size);

private:
    struct Free { void operator() (void* p) const noexcept { std::free (p); } };

    std::unique_ptr<juce::uint8, Free> block;
    size_t capacity = 0;

    JUCE_DECLARE_NON_COPYABLE (EntryBuffer)
};

/** Entries up to this size are inflated into an EntryBuffer and written in
    one go. Larger ones are inflated straight into the mapped file, or streamed
    where it cannot be mapped, so memory stays bounded whatever the entry. */
constexpr size_t wholeEntryLimit = (size_t) 64 << 20;

/** Writes one entry's content, straight out of the archive's memory, into an
    opened empty file. True only when exactly the promised number of bytes came
    out and their CRC-32 matches the central directory. */
bool writeEntryData (const DirectoryRecord& record, const FileOps::Handle& file, EntryBuffer& buffer);
