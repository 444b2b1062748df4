#include "BinaryData.h"
#include "Catalogue.h"
#include "support/DemoFacts.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The payload archives as embedded, read back at byte level and through the
// framework's ZipFile, the way the install operation reads them.
namespace
{
struct PayloadCase
{
    const char* resource;
    const char* data;
    int size;
    int k;                                 // format index
    // The demo's own layout:
    std::vector<std::string> entries;      // in archive order
    std::set<std::string> extractedPaths;  // everything on disk after extraction, "/"-separated
};

std::ostream& operator<< (std::ostream& os, const PayloadCase& c)
{
    return os << c.resource;
}

const std::vector<PayloadCase>& payloadCases()
{
    static const std::vector<PayloadCase> cases = {
        { "vst3_zip", BinaryData::vst3_zip, BinaryData::vst3_zipSize, 0,
          { "Velquin.vst3\\Contents\\",
            "Velquin.vst3\\desktop.ini",
            "Velquin.vst3\\Plugin.ico",
            "Velquin.vst3\\Contents\\Resources\\moduleinfo.json",
            "Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3" },
          { "Velquin.vst3", "Velquin.vst3/desktop.ini", "Velquin.vst3/Plugin.ico",
            "Velquin.vst3/Contents", "Velquin.vst3/Contents/Resources",
            "Velquin.vst3/Contents/Resources/moduleinfo.json",
            "Velquin.vst3/Contents/x86_64-win", "Velquin.vst3/Contents/x86_64-win/Velquin.vst3" } },

        { "clap_zip", BinaryData::clap_zip, BinaryData::clap_zipSize, 1,
          { "Velquin.clap" },
          { "Velquin.clap" } },

        { "aax_zip", BinaryData::aax_zip, BinaryData::aax_zipSize, 2,
          { "Velquin.aaxplugin\\Contents\\",
            "Velquin.aaxplugin\\desktop.ini",
            "Velquin.aaxplugin\\Plugin.ico",
            "Velquin.aaxplugin\\Contents\\x64\\Velquin.aaxplugin" },
          { "Velquin.aaxplugin", "Velquin.aaxplugin/desktop.ini", "Velquin.aaxplugin/Plugin.ico",
            "Velquin.aaxplugin/Contents", "Velquin.aaxplugin/Contents/x64",
            "Velquin.aaxplugin/Contents/x64/Velquin.aaxplugin" } },
    };
    return cases;
}

uint32_t le16 (const uint8_t* p) { return (uint32_t) p[0] | ((uint32_t) p[1] << 8); }
uint32_t le32 (const uint8_t* p) { return le16 (p) | (le16 (p + 2) << 16); }

uint32_t crc32Of (const void* data, size_t size, uint32_t crc = 0)
{
    static const auto table = []
    {
        std::array<uint32_t, 256> t {};
        for (uint32_t n = 0; n < 256; ++n)
        {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();

    crc = ~crc;
    auto* p = static_cast<const uint8_t*> (data);
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t crc32OfFile (const juce::File& file)
{
    juce::FileInputStream in (file);
    juce::HeapBlock<char> buffer (1 << 20);
    uint32_t crc = 0;

    for (;;)
    {
        const auto got = in.read (buffer, 1 << 20);
        if (got <= 0)
            return crc;
        crc = crc32Of (buffer, (size_t) got, crc);
    }
}

struct CentralEntry
{
    std::string name;
    uint32_t method, time, date, crc, compressedSize, size, localHeaderOffset;
};

// Walks the end record and the central directory, checking every field that
// the payload form fixes, and returns the entries in directory order.
std::vector<CentralEntry> readCentralDirectory (const PayloadCase& c)
{
    std::vector<CentralEntry> entries;
    const auto* bytes = reinterpret_cast<const uint8_t*> (c.data);
    const auto size = (uint32_t) c.size;

    EXPECT_GE (size, 22u);
    if (size < 22)
        return entries;

    // The end record fills exactly the last 22 bytes: no archive comment.
    const uint8_t* end = bytes + size - 22;
    EXPECT_EQ (le32 (end), 0x06054B50u);
    EXPECT_EQ (le16 (end + 4), 0u);   // this disk
    EXPECT_EQ (le16 (end + 6), 0u);   // disk with the directory
    EXPECT_EQ (le16 (end + 8), le16 (end + 10));   // entries on this disk, in all
    EXPECT_EQ (le16 (end + 20), 0u);  // comment length

    const uint32_t directorySize = le32 (end + 12);
    const uint32_t directoryOffset = le32 (end + 16);
    EXPECT_EQ ((uint64_t) directoryOffset + directorySize, (uint64_t) size - 22);
    if ((uint64_t) directoryOffset + directorySize > (uint64_t) size - 22)
        return entries;

    uint32_t pos = directoryOffset;
    while (pos + 46 <= directoryOffset + directorySize)
    {
        const uint8_t* r = bytes + pos;
        SCOPED_TRACE ("central directory record at " + std::to_string (pos));

        EXPECT_EQ (le32 (r), 0x02014B50u);
        EXPECT_EQ (le16 (r + 4), 20u);   // made by 2.0, host MS-DOS
        EXPECT_EQ (le16 (r + 6), 20u);   // needs 2.0
        EXPECT_EQ (le16 (r + 8), 0u);    // flags: no descriptor, no encryption, no UTF-8 mark
        EXPECT_EQ (le16 (r + 30), 0u);   // extra field
        EXPECT_EQ (le16 (r + 32), 0u);   // comment
        EXPECT_EQ (le16 (r + 34), 0u);   // disk
        EXPECT_EQ (le16 (r + 36), 0u);   // internal attributes
        EXPECT_EQ (le32 (r + 38), 0u);   // external attributes

        const uint32_t nameLength = le16 (r + 28);
        CentralEntry e { std::string (reinterpret_cast<const char*> (r + 46), nameLength),
                         le16 (r + 10), le16 (r + 12), le16 (r + 14), le32 (r + 16),
                         le32 (r + 20), le32 (r + 24), le32 (r + 42) };
        entries.push_back (e);
        pos += 46 + nameLength;
    }

    EXPECT_EQ (pos, directoryOffset + directorySize);
    EXPECT_EQ (entries.size(), (size_t) le16 (end + 10));
    return entries;
}

//==============================================================================
class PayloadArchive : public ::testing::TestWithParam<PayloadCase> {};

TEST_P (PayloadArchive, HasTheFixedFormAtByteLevel)
{
    const auto& c = GetParam();
    const auto* bytes = reinterpret_cast<const uint8_t*> (c.data);
    const auto entries = readCentralDirectory (c);

    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back (e.name);

    if (isDemoProduct())

    {
        ASSERT_EQ (names, c.entries);

    }

    // Any product: everything lies inside the bundle, a folder bundle's own
    // Contents folder comes first when it has one.
    const auto bundle = bundleName (Product::displayName(), c.k).toStdString();
    const auto source = bundleSourceFolder().getChildFile (bundle);
    ASSERT_FALSE (names.empty());
    for (const auto& name : names)
        EXPECT_TRUE (source.existsAsFile() ? name == bundle : name.rfind (bundle + "\\", 0) == 0) << name;
    if (source.getChildFile ("Contents").isDirectory())
    {
        EXPECT_EQ (names.front(), bundle + "\\Contents\\");
    }

    // Local headers follow each other from offset 0 up to the directory,
    // each repeating its directory record: there are no data descriptors.
    uint32_t expectedOffset = 0;
    for (const auto& e : entries)
    {
        SCOPED_TRACE (e.name);

        EXPECT_EQ (e.name.find ('/'), std::string::npos);
        EXPECT_EQ (e.time, entries.front().time);
        EXPECT_EQ (e.date, entries.front().date);
        EXPECT_GE (e.date >> 9, 45u);                                  // 2025 or later
        EXPECT_TRUE ((e.date >> 5 & 15) >= 1 && (e.date >> 5 & 15) <= 12);
        EXPECT_TRUE ((e.date & 31) >= 1);
        EXPECT_LT (e.time >> 11, 24u);

        const bool isFolder = e.name.back() == '\\';
        if (isFolder)
        {
            EXPECT_EQ (e.method, 0u);
            EXPECT_EQ (e.crc, 0u);
            EXPECT_EQ (e.compressedSize, 0u);
            EXPECT_EQ (e.size, 0u);
        }
        else
        {
            EXPECT_EQ (e.method, 8u);
        }

        ASSERT_EQ (e.localHeaderOffset, expectedOffset);
        ASSERT_LE ((uint64_t) e.localHeaderOffset + 30 + e.name.size() + e.compressedSize, (uint64_t) c.size);

        const uint8_t* h = bytes + e.localHeaderOffset;
        EXPECT_EQ (le32 (h), 0x04034B50u);
        EXPECT_EQ (le16 (h + 4), 20u);
        EXPECT_EQ (le16 (h + 6), 0u);
        EXPECT_EQ (le16 (h + 8), e.method);
        EXPECT_EQ (le16 (h + 10), e.time);
        EXPECT_EQ (le16 (h + 12), e.date);
        EXPECT_EQ (le32 (h + 14), e.crc);
        EXPECT_EQ (le32 (h + 18), e.compressedSize);
        EXPECT_EQ (le32 (h + 22), e.size);
        EXPECT_EQ (le16 (h + 26), (uint32_t) e.name.size());
        EXPECT_EQ (le16 (h + 28), 0u);
        EXPECT_EQ (std::string (reinterpret_cast<const char*> (h + 30), e.name.size()), e.name);

        if (! isFolder)
        {
            // The raw deflate stream inflates to exactly the recorded size and CRC.
            juce::GZIPDecompressorInputStream inflater (
                new juce::MemoryInputStream (h + 30 + e.name.size(), e.compressedSize, false), true,
                juce::GZIPDecompressorInputStream::deflateFormat);

            juce::MemoryBlock content;
            juce::MemoryOutputStream out (content, false);
            out.writeFromInputStream (inflater, -1);
            out.flush();

            EXPECT_EQ (content.getSize(), (size_t) e.size);
            EXPECT_EQ (crc32Of (content.getData(), content.getSize()), e.crc);
        }

        expectedOffset = e.localHeaderOffset + 30 + (uint32_t) e.name.size() + e.compressedSize;
    }

    const auto* end = bytes + c.size - 22;
    EXPECT_EQ (expectedOffset, le32 (end + 16)) << "the directory follows the last entry's data";
}

TEST_P (PayloadArchive, ExtractsToExactlyTheBundle)
{
    const auto& c = GetParam();
    TempFolder temp;
    const auto target = temp["plugins"];

    juce::MemoryInputStream stream (c.data, (size_t) c.size, false);
    juce::ZipFile zip (stream);
    ASSERT_EQ (zip.getNumEntries(), (int) readCentralDirectory (c).size());

    for (int i = 0; i < zip.getNumEntries(); ++i)
        ASSERT_TRUE (zip.uncompressEntry (i, target, true).wasOk()) << zip.getEntry (i)->filename;

    // Every path and every byte of the bundle the archive was packed from.
    const auto listing = [] (const juce::File& root, const juce::File& bundle)
    {
        std::set<std::string> paths;
        paths.insert (bundle.getRelativePathFrom (root).toStdString() + (bundle.isDirectory() ? "/" : ""));
        for (const auto& f : bundle.findChildFiles (juce::File::findFilesAndDirectories, true))
            paths.insert (f.getRelativePathFrom (root).toStdString() + (f.isDirectory() ? "/" : ""));
        return paths;
    };

    const auto name = bundleName (Product::displayName(), c.k);
    const auto source = bundleSourceFolder();
    ASSERT_EQ (target.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1) << "one bundle, nothing beside it";
    EXPECT_EQ (listing (target, target.getChildFile (name)), listing (source, source.getChildFile (name)));

    for (const auto& path : listing (source, source.getChildFile (name)))
    {
        const auto original = source.getChildFile (path);
        if (original.existsAsFile())
        {
            juce::MemoryBlock a, b;
            ASSERT_TRUE (original.loadFileAsData (a));
            ASSERT_TRUE (target.getChildFile (path).loadFileAsData (b));
            EXPECT_TRUE (a == b) << path;
        }
    }

    if (isDemoProduct())
    {
        std::set<std::string> found;
        for (const auto& entry : juce::RangedDirectoryIterator (target, true, "*", juce::File::findFilesAndDirectories))
            found.insert (entry.getFile().getRelativePathFrom (target).replaceCharacter ('\\', '/').toStdString());
        EXPECT_EQ (found, c.extractedPaths);
    }

    // Each file holds what its entry holds.
    for (const auto& e : readCentralDirectory (c))
    {
        if (e.name.back() == '\\')
            continue;

        const auto file = target.getChildFile (juce::String (e.name).replaceCharacter ('\\', '/'));
        ASSERT_TRUE (file.existsAsFile()) << e.name;
        EXPECT_EQ (file.getSize(), (juce::int64) e.size) << e.name;
        EXPECT_EQ (crc32OfFile (file), e.crc) << e.name;
    }
}

INSTANTIATE_TEST_SUITE_P (Payloads, PayloadArchive, ::testing::ValuesIn (payloadCases()),
                          [] (const auto& testInfo) { return std::string (testInfo.param.resource); });

} // namespace
