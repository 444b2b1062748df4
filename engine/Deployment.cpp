#include "Deployment.h"

#include "FileOps.h"
#include "PayloadDirectory.h"
#include "PeVersion.h"
#include "StateFolder.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace Deployment
{
namespace
{
using FileOps::Handle;
using FileOps::Kind;

// Files are compared through one piece of this size, whatever their size.
constexpr size_t pieceSize = 256 * 1024;

// The largest module whose version we inflate into memory to read it.
constexpr juce::uint32 maxModuleSize = 1u << 30;

//==============================================================================
/** An archive entry's path below its bundle: the names after the bundle's own,
    which must come first; none empty, "." or "..". Nothing when the entry does
    not lie inside the bundle (the install refuses such an archive too). */
std::optional<juce::StringArray> pathBelowBundle (const DirectoryRecord& record, const juce::String& bundleFileName)
{
    auto path = record.name.replaceCharacter ('\\', '/');

    if (record.isDirectory)
        path = path.dropLastCharacters (1);

    auto parts = juce::StringArray::fromTokens (path, "/", {});

    if (parts.isEmpty() || parts[0] != bundleFileName)
        return {};

    for (const auto& part : parts)
        if (part.isEmpty() || part == "." || part == "..")
            return {};

    parts.remove (0);
    return parts;
}

/** What the archive puts below the bundle: every entry and every folder that
    holds one, by its path below the bundle ("Contents/x64"). */
struct Expected
{
    struct Entry
    {
        bool isFolder = false;
        juce::uint32 size = 0, crc = 0;
    };

    bool valid = false;
    bool bundleIsFile = false;
    Entry bundleFile;
    std::map<juce::String, Entry> below;
    juce::StringArray module;   ///< the module's path below the bundle; empty: the bundle itself
};

Expected expectedBundle (const PayloadArchive& payload, const juce::String& bundleFileName, int k)
{
    Expected expected;
    std::vector<DirectoryRecord> records;

    if (payload.data == nullptr || ! readCentralDirectory (payload, records) || records.empty())
        return expected;

    for (const auto& record : records)
    {
        const auto parts = pathBelowBundle (record, bundleFileName);

        if (! parts)
            return expected;

        if (parts->isEmpty())
        {
            // The bundle itself as a file: then it is the only entry.
            if (record.isDirectory || records.size() != 1)
                return expected;

            expected.bundleIsFile = true;
            expected.bundleFile = { false, record.uncompressedSize, record.crc };
            continue;
        }

        for (int depth = 1; depth < parts->size(); ++depth)
            expected.below[parts->joinIntoString ("/", 0, depth)].isFolder = true;

        const auto path = parts->joinIntoString ("/");

        if (record.isDirectory)
            expected.below[path].isFolder = true;
        else if (! expected.below.emplace (path, Expected::Entry { false, record.uncompressedSize, record.crc }).second)
            return expected;

        // A folder bundle's module carries the bundle's own name.
        if (! record.isDirectory && parts->size() > 1 && parts->strings.getLast() == bundleFileName && expected.module.isEmpty())
            expected.module = *parts;
    }

    if (! expected.bundleIsFile && expected.module.isEmpty())
    {
        // Where the hosts' layouts put it, should an archive name it otherwise.
        if (k == 0)  expected.module = juce::StringArray ("Contents", "x86_64-win", bundleFileName);
        if (k == 2)  expected.module = juce::StringArray ("Contents", "x64", bundleFileName);
    }

    expected.valid = true;
    return expected;
}

//==============================================================================
/** The plain file has exactly size bytes whose CRC-32 is crc. */
bool fileMatches (const Handle& file, juce::uint32 size, juce::uint32 crc, std::vector<juce::uint8>& piece)
{
    if (! file || FileOps::sizeOf (file) != (juce::int64) size)
        return false;

    juce::uint32 sum = 0;

    for (juce::uint64 offset = 0; offset < size;)
    {
        const auto n = (size_t) juce::jmin ((juce::uint64) piece.size(), (juce::uint64) size - offset);

        if (! FileOps::readAt (file, offset, piece.data(), n))
            return false;

        sum = crc32_gzip_refl (sum, piece.data(), (juce::uint64) n);
        offset += n;
    }

    return sum == crc;
}

/** Every name in the folder is an expected entry of the right kind and content,
    and folders hold only what is expected; seen counts what was found. */
bool folderMatches (const Handle& folder, const juce::String& prefix, const Expected& expected, size_t& seen,
                    std::vector<juce::uint8>& piece)
{
    for (const auto& name : FileOps::listNames (folder))
    {
        const auto text = name.toText();

        if (! text)
            return false;

        const auto path = prefix.isEmpty() ? *text : prefix + "/" + *text;
        const auto entry = expected.below.find (path);

        if (entry == expected.below.end())
            return false;

        const auto kind = FileOps::kindOf (folder, name);
        ++seen;

        if (entry->second.isFolder)
        {
            const auto child = kind == Kind::folder ? FileOps::openFolder (folder, name) : Handle();

            if (! child || ! folderMatches (child, path, expected, seen, piece))
                return false;
        }
        else if (kind != Kind::file
                  || ! fileMatches (FileOps::openForReading (folder, name), entry->second.size, entry->second.crc, piece))
        {
            return false;
        }
    }

    return true;
}

bool bundleMatches (const Handle& target, const juce::String& bundleFileName, Kind kind, const Expected& expected)
{
    if (! expected.valid)
        return false;

    std::vector<juce::uint8> piece (pieceSize);

    if (expected.bundleIsFile)
        return kind == Kind::file
                && fileMatches (FileOps::openForReading (target, bundleFileName), expected.bundleFile.size,
                                expected.bundleFile.crc, piece);

    const auto bundle = kind == Kind::folder ? FileOps::openFolder (target, bundleFileName) : Handle();
    size_t seen = 0;

    return bundle && folderMatches (bundle, {}, expected, seen, piece) && seen == expected.below.size();
}

/** Opens the module one real folder at a time below the bundle. */
Handle openModule (const Handle& target, const juce::String& bundleFileName, const juce::StringArray& module)
{
    if (module.isEmpty())
        return FileOps::openForReading (target, bundleFileName);

    auto folder = FileOps::openFolder (target, bundleFileName);

    for (int i = 0; folder && i < module.size() - 1; ++i)
        folder = FileOps::openFolder (folder, module[i]);

    return folder ? FileOps::openForReading (folder, module[module.size() - 1]) : Handle();
}

//==============================================================================
/** The entry's content, inflated and checked against its size and CRC-32. */
bool inflateEntry (const DirectoryRecord& record, juce::MemoryBlock& content)
{
    if (record.uncompressedSize > maxModuleSize)
        return false;

    content.setSize (record.uncompressedSize);

    if (! record.isDeflated)
    {
        if (record.compressedSize != record.uncompressedSize)
            return false;

        content.copyFrom (record.data, 0, record.uncompressedSize);
    }
    else
    {
        auto state = std::make_unique<inflate_state>();
        isal_inflate_init (state.get());
        state->crc_flag = ISAL_GZIP_NO_HDR;
        state->next_in = const_cast<juce::uint8*> (record.data);
        state->avail_in = record.compressedSize;
        state->next_out = static_cast<juce::uint8*> (content.getData());
        state->avail_out = record.uncompressedSize;

        if (isal_inflate (state.get()) != ISAL_DECOMP_OK || state->block_state != ISAL_BLOCK_FINISH || state->avail_out != 0)
            return false;
    }

    return crc32_gzip_refl (0, static_cast<const juce::uint8*> (content.getData()), content.getSize()) == record.crc;
}

/** A failure that only means another program holds a file of the bundle (a
    host with the module loaded): the same run later, with the host closed,
    succeeds. Only Windows keeps such files from being deleted. */
bool isHeldByAnotherProgram (const RunLog::Failure& failure)
{
   #if JUCE_WINDOWS
    // The file work names the cause where Windows shows it (a folder with a file
    // open below refuses its rename with access denied, as permissions do too).
    constexpr int sharingViolation = 32, lockViolation = 33, userMappedFile = 1224;
    const auto code = failure.systemErrorCode;

    return failure.noted
            && (failure.cause == RunLog::Cause::inUse
                 || code == sharingViolation || code == lockViolation || code == userMappedFile);
   #else
    juce::ignoreUnused (failure);
    return false;
   #endif
}

void noteLockFailure (FormatReport& format, const juce::String& reason, int code)
{
    format.result = FormatReport::Result::failure;
    format.failure.noted = true;
    format.failure.step = RunLog::Step::lock;
    format.failure.systemError = reason;
    format.failure.systemErrorCode = code;
}
} // namespace

//==============================================================================
std::optional<Version> parseVersion (const juce::String& text)
{
    const auto parts = juce::StringArray::fromTokens (text, ".", {});
    Version version {};

    if (parts.isEmpty() || parts.size() > 4)
        return {};

    for (int i = 0; i < parts.size(); ++i)
    {
        const auto& part = parts[i];

        if (part.isEmpty() || part.length() > 5 || ! part.containsOnly ("0123456789"))
            return {};

        const auto value = (juce::uint32) part.getLargeIntValue();

        if (value > 65535)
            return {};

        version[(size_t) i] = value;
    }

    return version;
}

BundleState inspectBundle (const juce::File& folder, const juce::String& productName, int k, const PayloadArchive& payload)
{
    BundleState state;

    // The target folder is opened by the rule the install follows, so what is
    // seen is what an install or uninstall would act on.
    const auto target = folder == juce::File() ? Handle() : FileOps::openTargetFolder (folder, false);
    const auto name = bundleName (productName, k);
    const auto kind = target ? FileOps::kindOf (target, name) : Kind::missing;

    if (kind == Kind::missing)
        return state;

    state.installed = true;
    const auto expected = expectedBundle (payload, name, k);
    state.version = readModuleVersion (openModule (target, name, expected.module));
    state.intact = bundleMatches (target, name, kind, expected);
    return state;
}

juce::String payloadVersion (const PayloadArchive& payload, const juce::String& productName, int k)
{
    const auto name = bundleName (productName, k);
    const auto expected = expectedBundle (payload, name, k);
    std::vector<DirectoryRecord> records;

    if (! expected.valid || ! readCentralDirectory (payload, records))
        return {};

    const auto modulePath = expected.module.isEmpty() ? juce::StringArray() : expected.module;

    for (const auto& record : records)
    {
        const auto parts = pathBelowBundle (record, name);

        if (record.isDirectory || ! parts || *parts != modulePath)
            continue;

        juce::MemoryBlock content;
        return inflateEntry (record, content) ? readModuleVersion (content.getData(), content.getSize()) : juce::String();
    }

    return {};
}

//==============================================================================
const char* actionName (Action action)
{
    switch (action)
    {
        case Action::none:       return "none";
        case Action::install:    return "install";
        case Action::update:     return "update";
        case Action::repair:     return "repair";
        case Action::uninstall:  return "uninstall";
        case Action::refused:    return "refused";
    }

    return "none";
}

Action decide (bool uninstall, const BundleState& before, const juce::String& ourVersion, bool allowDowngrade)
{
    if (uninstall)
        return before.installed ? Action::uninstall : Action::none;

    if (! before.installed)
        return Action::install;

    if (before.intact)
        return Action::none;

    const auto installed = parseVersion (before.version);
    const auto ours = parseVersion (ourVersion);

    // Without both versions nothing says the copy there is newer: it is ours, damaged.
    if (! installed || ! ours || *installed == *ours)
        return Action::repair;

    if (*installed > *ours)
        return allowDowngrade ? Action::update : Action::refused;

    return Action::update;
}

bool meetsMinimum (const BundleState& state, const Version& minimum, const juce::String& ourVersion,
                   const juce::String& productVersion)
{
    if (! state.installed)
        return false;

    if (state.intact)
    {
        const auto version = parseVersion (state.version.isNotEmpty() ? state.version : productVersion);
        return version && *version >= minimum;
    }

    const auto version = parseVersion (state.version);
    const auto ours = parseVersion (ourVersion);
    return version && *version >= minimum && ! (ours && *version == *ours);
}

bool Report::changed() const
{
    for (const auto& f : formats)
        if (f.selected && f.result == FormatReport::Result::success
             && f.action != Action::none && f.action != Action::refused)
            return true;

    return false;
}

//==============================================================================
Report run (const Request& request, const PerFormat<juce::File>& folders, const juce::String& productName,
            const juce::File& stateFolder, const PerFormat<PayloadArchive>& payloads)
{
    Report report;
    const bool uninstall = request.verb == Request::Verb::uninstall;
    const bool acting = (request.verb == Request::Verb::install || request.verb == Request::Verb::uninstall) && ! request.dryRun;

    PerFormat<bool> mayAct {};
    std::vector<Handle> locks;

    for (int k = 0; k < numFormats; ++k)
    {
        auto& format = report.formats[(size_t) k];
        format.selected = request.selected[(size_t) k];
        format.folder = folders[(size_t) k];
        mayAct[(size_t) k] = format.selected;
    }

    // Check, decide and act under each format's lock, held to the end of the run.
    if (acting)
    {
        juce::String whyNot;
        const auto state = StateFolder::open (stateFolder, &whyNot);
        PerFormat<juce::File> lockedFolders;

        for (int k = 0; k < numFormats; ++k)
        {
            auto& format = report.formats[(size_t) k];

            if (! format.selected)
                continue;

            mayAct[(size_t) k] = false;

            if (! state)
            {
                noteLockFailure (format, whyNot, 0);
                continue;
            }

            auto result = FileOps::Lock::failed;
            RunLog::restoreLastSystemError (0);
            auto lock = StateFolder::lockBundle (state, bundleName (productName, k), result);

            if (result == FileOps::Lock::busy)
            {
                format.result = FormatReport::Result::busy;
                continue;
            }

            if (! lock)
            {
                const auto error = RunLog::lastSystemError();
                noteLockFailure (format, error != 0 ? RunLog::systemErrorText (error)
                                                    : juce::String ("the lock file is not a plain file of the administrators' own"),
                                 error);
                continue;
            }

            locks.push_back (std::move (lock));
            mayAct[(size_t) k] = true;
            lockedFolders[(size_t) k] = folders[(size_t) k];
        }

        // A replacement killed half-way left a bundle set aside: back in place before anything looks.
        restoreSetAsideBundles (lockedFolders, productName, { stateFolder, true });
    }

    PerFormat<bool> selection {};
    const auto restartsBefore = FileOps::deletionsLeftForRestart();

    for (int k = 0; k < numFormats; ++k)
    {
        auto& format = report.formats[(size_t) k];

        if (! format.selected)
            continue;

        format.before = inspectBundle (format.folder, productName, k, payloads[(size_t) k]);
        format.after = format.before;

        if (request.verb == Request::Verb::detect && format.before.installed && ! format.before.intact)
            format.ourVersion = payloadVersion (payloads[(size_t) k], productName, k);

        if (! mayAct[(size_t) k] || request.verb == Request::Verb::status || request.verb == Request::Verb::detect)
            continue;

        // Our own version is needed only to judge a copy that is not ours, or to predict.
        if (! uninstall && format.before.installed && ! format.before.intact)
            format.ourVersion = payloadVersion (payloads[(size_t) k], productName, k);

        format.action = decide (uninstall, format.before, format.ourVersion, request.allowDowngrade);
        const bool changes = format.action != Action::none && format.action != Action::refused;

        if (request.dryRun)
        {
            if (changes && ! uninstall)
            {
                if (format.ourVersion.isEmpty())
                    format.ourVersion = payloadVersion (payloads[(size_t) k], productName, k);

                format.after = { true, format.ourVersion, true };
            }
            else if (changes)
            {
                format.after = {};
            }

            continue;
        }

        if (changes)
            selection[(size_t) k] = true;
        else if (format.action == Action::refused)
            RunLog::formatLeftAlone (k, false, format.folder,
                                     "refused: " + format.before.version + " there is newer than " + format.ourVersion, true);
        else
            RunLog::formatLeftAlone (k, uninstall, format.folder,
                                     uninstall ? juce::String ("nothing to do, not installed")
                                               : "nothing to do, " + (format.before.version + " intact").trim(),
                                     false);
    }

    if (acting)
    {
        PerFormat<FormatOutcome> outcomes;
        const auto anySelected = std::find (selection.begin(), selection.end(), true) != selection.end();

        if (anySelected)
            processSelectedFormats (selection, uninstall, folders, productName, payloads, &outcomes, { stateFolder, true });

        for (int k = 0; k < numFormats; ++k)
        {
            auto& format = report.formats[(size_t) k];

            if (format.selected && format.result == FormatReport::Result::busy)
                RunLog::formatLeftAlone (k, uninstall, format.folder, "busy, another run works on it", true);
            else if (format.selected && format.result == FormatReport::Result::failure)
                RunLog::formatLeftAlone (k, uninstall, format.folder, "failed at lock: " + format.failure.systemError, true);

            const auto& outcome = outcomes[(size_t) k];

            if (! outcome.processed)
                continue;

            format.after = inspectBundle (format.folder, productName, k, payloads[(size_t) k]);

            if (! outcome.succeeded)
            {
                format.failure = outcome.failure;
                format.result = isHeldByAnotherProgram (outcome.failure) ? FormatReport::Result::busy
                                                                         : FormatReport::Result::failure;
            }
        }

        report.restartNeeded = FileOps::deletionsLeftForRestart() > restartsBefore;
    }

    return report;
}
} // namespace Deployment
