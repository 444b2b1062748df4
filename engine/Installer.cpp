#include "Installer.h"

#include "BinaryData.h"

#include <zlib.h>
#include <cstring>
#include <vector>

#if ! JUCE_WINDOWS
 #include <cerrno>
 #include <cstdio>
 #include <cstdlib>
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <sys/time.h>
 #include <unistd.h>
#endif

PerFormat<PayloadArchive> embeddedPayloads()
{
    return { PayloadArchive { BinaryData::vst3_zip, (size_t) BinaryData::vst3_zipSize },
             PayloadArchive { BinaryData::clap_zip, (size_t) BinaryData::clap_zipSize },
             PayloadArchive { BinaryData::aax_zip,  (size_t) BinaryData::aax_zipSize } };
}

namespace
{
//==============================================================================
// What the archive's central directory promises about each entry. JUCE's
// ZipFile keeps none of the CRCs, so we read them ourselves to check what
// it hands us.
struct DirectoryRecord
{
    juce::String name;
    juce::uint32 crc = 0;
    juce::uint32 compressedSize = 0;
    juce::uint32 uncompressedSize = 0;
    bool isDeflated = false;
    bool isDirectory = false;
    const juce::uint8* data = nullptr;   ///< the entry's stored bytes, inside the archive
};

juce::uint16 read16 (const juce::uint8* p) noexcept   { return (juce::uint16) (p[0] | (p[1] << 8)); }
juce::uint32 read32 (const juce::uint8* p) noexcept   { return (juce::uint32) read16 (p) | ((juce::uint32) read16 (p + 2) << 16); }

/** Reads the central directory of an in-memory archive. Refuses anything the
    payload form never contains and we could not check: encryption, methods
    other than stored and deflate, ZIP64, links, and records or data that
    lie outside the archive. */
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

        DirectoryRecord record;
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

//==============================================================================
// Staging folders: "." + bundle name + ".oh-staging-" + six random characters.
// Hidden, never ending in a plug-in extension, never equal to a bundle name.
const juce::String stagingMarker (".oh-staging-");
constexpr int stagingSuffixLength = 6;

juce::String stagingPrefix (const juce::String& bundleFileName)
{
    return "." + bundleFileName + stagingMarker;
}

bool isStagingLeftover (const juce::String& name, const juce::String& prefix)
{
    return name.startsWith (prefix) && name.length() == prefix.length() + stagingSuffixLength;
}

#if ! JUCE_WINDOWS
constexpr mode_t folderMode = 0755;
constexpr mode_t fileMode = 0644;

bool isRealFolder (const juce::File& f)
{
    struct stat info;
    return lstat (f.getFullPathName().toRawUTF8(), &info) == 0 && S_ISDIR (info.st_mode);
}

bool somethingAt (const juce::File& f)
{
    struct stat info;
    return lstat (f.getFullPathName().toRawUTF8(), &info) == 0;
}

/** mkdir with a fixed mode, whatever the umask: a bundle must be readable by
    the hosts that load it. */
bool makeFolder (const juce::File& f)
{
    const auto* path = f.getFullPathName().toRawUTF8();
    return mkdir (path, folderMode) == 0 && chmod (path, folderMode) == 0;
}
#endif

/** Creates a missing target folder and its parents. An existing folder, or a
    link to one, is used as it is. */
bool createTargetFolder (const juce::File& folder)
{
   #if JUCE_WINDOWS
    return folder.createDirectory().wasOk();
   #else
    if (folder.isDirectory())
        return true;

    const auto parent = folder.getParentDirectory();

    if (parent == folder || ! createTargetFolder (parent))
        return false;

    return makeFolder (folder) || folder.isDirectory();
   #endif
}

/** Creates the folders from below the staging folder down to f. Every step
    must be a real folder: nothing below staging is reached through a link. */
bool createFoldersBelow (const juce::File& staging, const juce::File& f)
{
    if (f == staging)
        return true;

    if (! f.isAChildOf (staging))
        return false;

   #if JUCE_WINDOWS
    return f.createDirectory().wasOk();
   #else
    if (isRealFolder (f))
        return true;

    if (! createFoldersBelow (staging, f.getParentDirectory()))
        return false;

    return makeFolder (f);
   #endif
}

/** Removes staging folders that a killed run of this format left behind.
    Only folders of our own naming, owned by us, are touched. */
void removeStagingLeftovers (const juce::File& folder, const juce::String& bundleFileName)
{
    if (! folder.isDirectory())
        return;

    const auto prefix = stagingPrefix (bundleFileName);

    // Collected first: the folder is not changed while it is being listed.
    for (const auto& f : folder.findChildFiles (juce::File::findDirectories, false, prefix + "*",
                                                juce::File::FollowSymlinks::no))
    {
        if (! isStagingLeftover (f.getFileName(), prefix))
            continue;

       #if ! JUCE_WINDOWS
        struct stat info;

        if (lstat (f.getFullPathName().toRawUTF8(), &info) != 0
             || ! S_ISDIR (info.st_mode) || info.st_uid != geteuid())
            continue;
       #endif

        f.deleteRecursively (false);
    }
}

/** A fresh, empty staging folder inside the target folder, owner-only. */
juce::File createStagingFolder (const juce::File& folder, const juce::String& bundleFileName)
{
   #if JUCE_WINDOWS
    const auto suffix = juce::String::toHexString (juce::Random::getSystemRandom().nextInt (0xffffff))
                            .paddedLeft ('0', stagingSuffixLength);
    const auto staging = folder.getChildFile (stagingPrefix (bundleFileName) + suffix);
    return ! staging.exists() && staging.createDirectory().wasOk() ? staging : juce::File();
   #else
    auto pattern = folder.getChildFile (stagingPrefix (bundleFileName) + "XXXXXX").getFullPathName().toStdString();

    if (mkdtemp (pattern.data()) == nullptr)
        return {};

    return juce::File (juce::String (pattern));
   #endif
}

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

/** Writes one file entry into the staging folder, verified, with the entry's time. */
bool writeFileEntry (juce::ZipFile& zip, int index, const DirectoryRecord& record,
                     const juce::File& target, std::vector<char>& buffer)
{
   #if JUCE_WINDOWS
    if (target.exists() && ! target.deleteFile())
        return false;

    bool ok = false;

    {
        juce::FileOutputStream out (target);

        if (out.failedToOpen())
            return false;

        ok = copyVerified (record, buffer, [&out] (const char* data, size_t size) { return out.write (data, size); });
        out.flush();
        ok = ok && out.getStatus().wasOk();
    }

    const auto time = zip.getEntry (index)->fileTime;
    target.setCreationTime (time);
    target.setLastModificationTime (time);
    target.setLastAccessTime (time);
    return ok;
   #else
    const auto* path = target.getFullPathName().toRawUTF8();
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open (path, flags, fileMode);

    if (fd < 0 && errno == EEXIST)
    {
        // A repeated entry overwrites a file of the same name, never a folder or a link.
        struct stat info;

        if (lstat (path, &info) != 0 || ! S_ISREG (info.st_mode) || unlink (path) != 0)
            return false;

        fd = open (path, flags, fileMode);
    }

    if (fd < 0)
        return false;

    const auto writeAll = [fd] (const char* p, size_t size)
    {
        for (const auto* e = p + size; p < e;)
        {
            const auto w = ::write (fd, p, (size_t) (e - p));

            if (w > 0)
                p += w;
            else if (! (w < 0 && errno == EINTR))
                return false;
        }

        return true;
    };

    auto ok = fchmod (fd, fileMode) == 0 && copyVerified (record, buffer, writeAll);

    if (ok)
    {
        const auto ms = zip.getEntry (index)->fileTime.toMilliseconds();
        struct timespec times[2];
        times[0].tv_sec = (time_t) (ms / 1000);
        times[0].tv_nsec = (long) ((ms % 1000) * 1000000);
        times[1] = times[0];
        ok = futimens (fd, times) == 0;
    }

    return (close (fd) == 0) && ok;
   #endif
}

/** Extracts every entry, in archive order, into the staging folder. Entries must
    lie inside the product's bundle; the first failing entry stops the run. */
bool extractInto (const PayloadArchive& payload, const juce::File& staging, const juce::String& bundleFileName)
{
    std::vector<DirectoryRecord> records;

    if (! readCentralDirectory (payload, records) || records.empty())
        return false;

    juce::MemoryInputStream source (payload.data, payload.size, false);
    juce::ZipFile zip (source);

    if (zip.getNumEntries() != (int) records.size())
        return false;

    const auto staged = staging.getChildFile (bundleFileName);
    std::vector<char> buffer (256 * 1024);   // inflate, CRC and write while it is in cache

    for (int i = 0; i < zip.getNumEntries(); ++i)
    {
        const auto* entry = zip.getEntry (i);
        const auto& record = records[(size_t) i];

        if (entry == nullptr || entry->filename != record.name || entry->isSymbolicLink
             || (juce::uint64) entry->uncompressedSize != record.uncompressedSize)
            return false;

        const auto relativePath = record.name.replaceCharacter ('\\', '/');

        if (relativePath != bundleFileName && ! relativePath.startsWith (bundleFileName + "/"))
            return false;

        const auto target = staging.getChildFile (relativePath);

        // ".." that stays inside staging but leaves the bundle counts as escaping too.
        if (target != staged && ! target.isAChildOf (staged))
            return false;

        if (record.isDirectory)
        {
            if (! createFoldersBelow (staging, target))
                return false;

            continue;
        }

        if (! createFoldersBelow (staging, target.getParentDirectory())
             || ! writeFileEntry (zip, i, record, target, buffer))
            return false;
    }

    return true;
}

/** Puts the staged bundle at the bundle path. Afterwards the old bundle, if
    there was one, sits at the staged path. */
bool swapIntoPlace (const juce::File& staged, const juce::File& bundle)
{
   #if JUCE_LINUX
    const auto* from = staged.getFullPathName().toRawUTF8();
    const auto* to = bundle.getFullPathName().toRawUTF8();

    // One step in either case: the bundle path never lacks a complete bundle.
    if (renameat2 (AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;

    if (errno == EEXIST && renameat2 (AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0)
        return true;

    if (errno != EINVAL && errno != ENOSYS)
        return false;

    // The filesystem cannot swap: fall through to two renames.
   #endif

    const auto previous = staged.getSiblingFile ("previous");

   #if JUCE_WINDOWS
    const bool hadBundle = bundle.exists();
   #else
    const bool hadBundle = somethingAt (bundle);
   #endif

    if (hadBundle && ! bundle.moveFileTo (previous))
        return false;

    if (staged.moveFileTo (bundle))
        return true;

    if (hadBundle)
        previous.moveFileTo (bundle);

    return false;
}

//==============================================================================
bool installFormat (const juce::File& folder, const juce::String& bundleFileName, const PayloadArchive& payload)
{
    if (payload.data == nullptr || payload.size == 0 || ! createTargetFolder (folder))
        return false;

    removeStagingLeftovers (folder, bundleFileName);

    const auto staging = createStagingFolder (folder, bundleFileName);

    if (staging == juce::File())
        return false;

    const auto staged = staging.getChildFile (bundleFileName);
    const auto bundle = folder.getChildFile (bundleFileName);

    const bool ok = extractInto (payload, staging, bundleFileName)
                     && staged.exists()
                     && swapIntoPlace (staged, bundle);

    // Holds the old bundle after a swap, the partial new one after a failure.
    staging.deleteRecursively (false);
    return ok;
}

bool uninstallFormat (const juce::File& folder, const juce::String& bundleFileName)
{
    removeStagingLeftovers (folder, bundleFileName);
    return folder.getChildFile (bundleFileName).deleteRecursively (false);
}
} // namespace

//==============================================================================
bool processSelectedFormats (PerFormat<bool>& selection,
                             bool uninstall,
                             const PerFormat<juce::File>& folders,
                             const juce::String& productName,
                             const PerFormat<PayloadArchive>& payloads)
{
    bool processedAny = false;
    bool allSucceeded = true;

    for (int k = 0; k < numFormats; ++k)
    {
        const auto index = (size_t) k;

        if (! selection[index])
            continue;

        processedAny = true;

        // An empty folder has no bundle path: the format fails, the disk is untouched.
        const auto bundle = bundlePath (folders[index], productName, k);
        bool ok = false;

        if (bundle != juce::File())
        {
            const auto& folder = folders[index];
            const auto name = bundleName (productName, k);

            ok = uninstall ? uninstallFormat (folder, name)
                           : installFormat (folder, name, payloads[index]);
        }

        allSucceeded = allSucceeded && ok;
        selection[index] = false;
    }

    return processedAny && allSucceeded;
}

void removeLeftoverScript (const juce::File& temporaryFolder)
{
    if (temporaryFolder == juce::File())
        return;

    const auto script = temporaryFolder.getChildFile ("script.sh");

   #if JUCE_WINDOWS
    if (script.existsAsFile())
        script.deleteFile();
   #else
    // The temporary folder is shared between users: only a plain file of our own goes.
    struct stat info;

    if (lstat (script.getFullPathName().toRawUTF8(), &info) == 0
         && S_ISREG (info.st_mode) && info.st_uid == geteuid())
        unlink (script.getFullPathName().toRawUTF8());
   #endif
}
