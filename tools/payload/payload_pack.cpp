// Packs one plug-in bundle (a folder, or a single file) into a payload archive.
//
// Usage: oh_payload_pack <archive.zip> <bundle>
//
// The archive is a plain single-disk ZIP in one fixed form: no ZIP64, no data
// descriptors (CRC and sizes are patched into each local header), general
// purpose flags 0, no extra fields, no comments, version needed 2.0, version
// made by 2.0 on MS-DOS, attributes 0, "\" as the path separator, files
// deflated, directories stored with sizes and CRC 0.
//
// Entries, in this order:
//   1. a directory entry for the bundle's own "Contents" folder, if it has one;
//   2. the files, depth first: in each folder its files in name order (ASCII,
//      case-insensitive, as Explorer sorts), then its sub-folders in the same
//      order. Other folders get no entry; extraction creates them as parents.
//      Only a folder that holds nothing gets an entry of its own, in its place
//      in the walk, so that extraction does not lose it.
// A single-file bundle gives one entry, the file under its own name.
//
// Every entry carries the same DOS time stamp, fixedTime below, so packing
// the same bundle twice gives byte-identical archives. An existing archive
// with the same bytes is left untouched, so the build tool can skip the
// steps that depend on it.

#include "LittleEndian.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
// 2025-01-01 12:00:00, as DOS time and date fields.
const uint16_t fixedTime = 12 << 11;
const uint16_t fixedDate = ((2025 - 1980) << 9) | (1 << 5) | 1;

const uint16_t versionMadeBy = 20;   // 2.0, host MS-DOS (upper byte 0)
const uint16_t versionNeeded = 20;   // 2.0: deflate and folders
const int compressionLevel = 9;

const uint64_t zipLimit = 0xFFFFFFFFull; // beyond this a field would need ZIP64

struct Entry
{
    std::string name;    // archive name, "\"-separated
    fs::path source;     // empty for a directory entry
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t size = 0;
    uint32_t localHeaderOffset = 0;
    uint16_t method = 0;
};

//==============================================================================
std::string lowerCase (std::string s)
{
    for (auto& c : s)
        c = (char) std::tolower ((unsigned char) c);
    return s;
}

bool nameOrder (const fs::path& a, const fs::path& b)
{
    const auto na = a.filename().string(), nb = b.filename().string();
    const auto la = lowerCase (na), lb = lowerCase (nb);
    return la != lb ? la < lb : na < nb;
}

// Names must survive the trip to Windows and to any ZIP reader unchanged:
// flags 0 means the names are not marked as UTF-8, so only printable ASCII
// is safe, and the separator and Windows' reserved characters are refused.
void checkName (const fs::path& p)
{
    const auto name = p.filename().string();

    if (name.empty() || name == "." || name == "..")
        throw std::runtime_error ("rule \"names\": unusable name: " + p.string());

    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E || std::strchr ("\\:*?\"<>|", c) != nullptr)
            throw std::runtime_error ("rule \"names\": printable ASCII only, none of \\:*?\"<>|, so every ZIP reader and Windows keep the name: " + p.string());
}

void checkKind (const fs::path& p)
{
    const auto status = fs::symlink_status (p);

    if (fs::is_symlink (status))
        throw std::runtime_error ("rule \"no links\": a symbolic link cannot be installed as such: " + p.string());

    if (! fs::is_regular_file (status) && ! fs::is_directory (status))
        throw std::runtime_error ("rule \"files and folders only\": not a file or folder: " + p.string());
}

void walk (const fs::path& folder, const std::string& archiveName, std::vector<Entry>& entries)
{
    std::vector<fs::path> files, folders;

    for (const auto& child : fs::directory_iterator (folder))
    {
        checkName (child.path());
        checkKind (child.path());
        (fs::is_directory (fs::symlink_status (child.path())) ? folders : files).push_back (child.path());
    }

    if (files.empty() && folders.empty())
    {
        const bool alreadyListed = ! entries.empty() && entries.front().name == archiveName + "\\";
        if (! alreadyListed)
            entries.push_back ({ archiveName + "\\", {} });
        return;
    }

    std::sort (files.begin(), files.end(), nameOrder);
    std::sort (folders.begin(), folders.end(), nameOrder);

    // Windows folds case: two such names would land on one file there.
    std::map<std::string, fs::path> folded;
    for (const auto* list : { &files, &folders })
        for (const auto& f : *list)
            if (const auto [it, added] = folded.emplace (lowerCase (f.filename().string()), f); ! added)
                throw std::runtime_error ("rule \"names differ in more than case\": " + it->second.string() + " and " + f.string());

    for (const auto& f : files)
        entries.push_back ({ archiveName + "\\" + f.filename().string(), f });

    for (const auto& f : folders)
        walk (f, archiveName + "\\" + f.filename().string(), entries);
}

std::vector<Entry> listEntries (const fs::path& bundle)
{
    checkName (bundle);
    checkKind (bundle);

    const std::string name = bundle.filename().string();
    std::vector<Entry> entries;

    if (fs::is_regular_file (fs::symlink_status (bundle)))
    {
        entries.push_back ({ name, bundle });
        return entries;
    }

    const fs::path contents = bundle / "Contents";
    if (fs::is_directory (fs::symlink_status (contents)))
        entries.push_back ({ name + "\\Contents\\", {} });

    walk (bundle, name, entries);

    // An installed bundle with nothing in it would count as installed.
    if (std::none_of (entries.begin(), entries.end(), [] (const Entry& e) { return ! e.source.empty(); }))
        throw std::runtime_error ("rule \"bundle holds files\": no file in " + bundle.string());

    if (entries.size() > 0xFFFF)
        throw std::runtime_error ("rule \"plain ZIP\": more than 65535 entries in " + bundle.string());

    return entries;
}

//==============================================================================
struct FileCloser
{
    void operator() (FILE* f) const { std::fclose (f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

class ArchiveWriter
{
public:
    explicit ArchiveWriter (const fs::path& path)
        : file (std::fopen (path.c_str(), "wb")), filePath (path)
    {
        if (file == nullptr)
            throw std::runtime_error ("cannot create " + path.string());
    }

    void add (Entry& e)
    {
        e.localHeaderOffset = checkedOffset();
        e.method = e.source.empty() ? 0 : 8;

        const long headerAt = std::ftell (file.get());
        write (localHeader (e));

        if (! e.source.empty())
        {
            deflateFile (e);

            // No data descriptors: go back and fill in CRC and sizes.
            const long end = std::ftell (file.get());
            std::fseek (file.get(), headerAt, SEEK_SET);
            write (localHeader (e));
            std::fseek (file.get(), end, SEEK_SET);
        }
    }

    void finish (const std::vector<Entry>& entries)
    {
        const uint32_t directoryOffset = checkedOffset();
        Bytes directory;

        for (const auto& e : entries)
        {
            put32 (directory, 0x02014B50);
            put16 (directory, versionMadeBy);
            putSharedFields (directory, e);
            put16 (directory, 0); // comment
            put16 (directory, 0); // disk
            put16 (directory, 0); // internal attributes
            put32 (directory, 0); // external attributes
            put32 (directory, e.localHeaderOffset);
            directory.insert (directory.end(), e.name.begin(), e.name.end());
        }

        write (directory);

        if ((uint64_t) directoryOffset + directory.size() > zipLimit)
            throw std::runtime_error ("archive too large for a plain ZIP archive");

        Bytes end;
        put32 (end, 0x06054B50);
        put16 (end, 0); // this disk
        put16 (end, 0); // disk with the directory
        put16 (end, (uint32_t) entries.size());
        put16 (end, (uint32_t) entries.size());
        put32 (end, (uint32_t) directory.size());
        put32 (end, directoryOffset);
        put16 (end, 0); // comment
        write (end);

        if (std::fflush (file.get()) != 0 || std::ferror (file.get()))
            throw std::runtime_error ("cannot write " + filePath.string());

        file.reset();
    }

private:
    uint32_t checkedOffset()
    {
        const long pos = std::ftell (file.get());
        if (pos < 0 || (uint64_t) pos > zipLimit)
            throw std::runtime_error ("archive too large for a plain ZIP archive");
        return (uint32_t) pos;
    }

    /** The fields a local header and its directory record share, in the same
        order in both: no data descriptors, so both carry the same CRC and sizes. */
    static void putSharedFields (Bytes& b, const Entry& e)
    {
        put16 (b, versionNeeded);
        put16 (b, 0); // flags
        put16 (b, e.method);
        put16 (b, fixedTime);
        put16 (b, fixedDate);
        put32 (b, e.crc);
        put32 (b, e.compressedSize);
        put32 (b, e.size);
        put16 (b, (uint32_t) e.name.size());
        put16 (b, 0); // extra field
    }

    static Bytes localHeader (const Entry& e)
    {
        Bytes b;
        put32 (b, 0x04034B50);
        putSharedFields (b, e);
        b.insert (b.end(), e.name.begin(), e.name.end());
        return b;
    }

    void write (const Bytes& b)
    {
        write (b.data(), b.size());
    }

    void write (const uint8_t* data, size_t size)
    {
        if (size > 0 && std::fwrite (data, 1, size, file.get()) != size)
            throw std::runtime_error ("cannot write " + filePath.string());
    }

    void deflateFile (Entry& e)
    {
        File in (std::fopen (e.source.c_str(), "rb"));
        if (in == nullptr)
            throw std::runtime_error ("cannot read " + e.source.string());

        z_stream z {};
        if (deflateInit2 (&z, compressionLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error ("deflate set-up failed");

        struct StreamEnd
        {
            z_stream& z;
            ~StreamEnd() { deflateEnd (&z); }
        } streamEnd { z };

        const size_t chunk = 1 << 20;
        std::vector<uint8_t> input (chunk), output (chunk);
        uint64_t size = 0, compressedSize = 0;
        uLong crc = crc32 (0, nullptr, 0);
        int flush = Z_NO_FLUSH;

        while (flush != Z_FINISH)
        {
            const size_t got = std::fread (input.data(), 1, chunk, in.get());
            if (std::ferror (in.get()))
                throw std::runtime_error ("cannot read " + e.source.string());

            flush = std::feof (in.get()) ? Z_FINISH : Z_NO_FLUSH;
            crc = crc32 (crc, input.data(), (uInt) got);
            size += got;

            z.next_in = input.data();
            z.avail_in = (uInt) got;

            do
            {
                z.next_out = output.data();
                z.avail_out = (uInt) output.size();

                if (deflate (&z, flush) == Z_STREAM_ERROR)
                    throw std::runtime_error ("deflate failed");

                const size_t produced = output.size() - z.avail_out;
                write (output.data(), produced);
                compressedSize += produced;
            }
            while (z.avail_out == 0);
        }

        if (size > zipLimit || compressedSize > zipLimit)
            throw std::runtime_error ("rule \"plain ZIP\": 4 GiB or more: " + e.source.string());

        e.crc = (uint32_t) crc;
        e.size = (uint32_t) size;
        e.compressedSize = (uint32_t) compressedSize;
    }

    File file;
    fs::path filePath;
};

bool sameFiles (const fs::path& a, const fs::path& b)
{
    std::error_code ec;
    if (! fs::is_regular_file (b, ec) || fs::file_size (a, ec) != fs::file_size (b, ec))
        return false;

    std::ifstream fa (a, std::ios::binary), fb (b, std::ios::binary);
    std::vector<char> ba (1 << 20), bb (1 << 20);

    while (fa && fb)
    {
        fa.read (ba.data(), (std::streamsize) ba.size());
        fb.read (bb.data(), (std::streamsize) bb.size());
        if (fa.gcount() != fb.gcount() || std::memcmp (ba.data(), bb.data(), (size_t) fa.gcount()) != 0)
            return false;
    }

    return fa.eof() && fb.eof();
}
} // namespace

//==============================================================================
int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: oh_payload_pack <archive.zip> <bundle folder or file>\n";
        return 2;
    }

    const fs::path archive = argv[1];
    const fs::path temp = archive.string() + ".part";

    try
    {
        const fs::path bundle = fs::path (argv[2]).lexically_normal();
        if (! fs::exists (fs::symlink_status (bundle)))
            throw std::runtime_error ("rule \"bundle form\": no bundle at " + bundle.string());

        auto entries = listEntries (bundle.has_filename() ? bundle : bundle.parent_path());

        ArchiveWriter writer (temp);
        for (auto& e : entries)
            writer.add (e);
        writer.finish (entries);

        if (sameFiles (temp, archive))
            fs::remove (temp);
        else
            fs::rename (temp, archive);
    }
    catch (const std::exception& e)
    {
        std::error_code ec;
        fs::remove (temp, ec);
        std::cerr << "oh_payload_pack: " << e.what() << "\n";
        return 1;
    }

    return 0;
}
