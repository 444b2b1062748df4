#pragma once

#include "Installer.h"

#include <vector>

/** What an archive's central directory promises about one entry. */
struct DirectoryRecord
{
    juce::String name;
    juce::uint32 crc = 0;
    juce::uint32 compressedSize = 0;
    juce::uint32 uncompressedSize = 0;
    juce::uint16 dosTime = 0, dosDate = 0;
    bool isDeflated = false;
    bool isDirectory = false;
    const juce::uint8* data = nullptr;   ///< the entry's stored bytes, inside the archive

    /** The entry's time stamp, read as local time. */
    juce::Time time() const;
};

/** Reads the central directory of an in-memory archive. Refuses anything the
    payload form never contains and we could not check: encryption, methods
    other than stored and deflate, ZIP64, links, and records or data that
    lie outside the archive. */
bool readCentralDirectory (const PayloadArchive& archive, std::vector<DirectoryRecord>& records);
