#pragma once

#include "FileOps.h"
#include "PayloadDirectory.h"

#include <memory>
#include <vector>

struct inflate_state;

/** Writes entries' content, straight out of the archive's memory, into opened
    empty files, through a small buffer whatever an entry's size. One install
    operation keeps one, so its buffer and inflate state are made once. */
class EntryWriter
{
public:
    EntryWriter();
    ~EntryWriter();

    /** True only when exactly the promised number of bytes came out and their
        CRC-32 matches the central directory. */
    bool write (const DirectoryRecord& record, const FileOps::Handle& file);

private:
    bool writeDeflated (const DirectoryRecord& record, const FileOps::Handle& file);

    std::unique_ptr<inflate_state> state;
    std::vector<juce::uint8> piece;

    JUCE_DECLARE_NON_COPYABLE (EntryWriter)
};
