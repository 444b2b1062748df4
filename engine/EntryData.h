#pragma once

#include "FileOps.h"
#include "PayloadDirectory.h"

/** Writes one entry's content, straight out of the archive's memory, into an
    opened empty file. True only when exactly the promised number of bytes came
    out and their CRC-32 matches the central directory. */
bool writeEntryData (const DirectoryRecord& record, const FileOps::Handle& file);
