#include "Installer.h"

#include "BinaryData.h"
#include "EntryData.h"
#include "FileOps.h"
#include "InstallerHooks.h"
#include "PayloadDirectory.h"

#include <memory>
#include <vector>

PerFormat<PayloadArchive> embeddedPayloads()
{
    return { PayloadArchive { BinaryData::vst3_zip, (size_t) BinaryData::vst3_zipSize },
             PayloadArchive { BinaryData::clap_zip, (size_t) BinaryData::clap_zipSize },
             PayloadArchive { BinaryData::aax_zip,  (size_t) BinaryData::aax_zipSize } };
}

InstallerHooks& installerHooks()
{
    static InstallerHooks hooks;
    return hooks;
}

namespace
{
using FileOps::Handle;
using FileOps::Kind;
using FileOps::Rename;

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

/** Where the old bundle waits while a replacement in two renames is under way. */
juce::String asideName (const juce::String& bundleFileName)
{
    return "." + bundleFileName + ".oh-aside";
}

/** Removes staging folders that killed runs of this format left behind. Only
    folders of our own naming, owned by us and locked by no live run, go. */
void removeStagingLeftovers (const Handle& target, const juce::String& bundleFileName)
{
    const auto prefix = stagingPrefix (bundleFileName);

    // Collected first: the folder is not changed while it is being listed.
    for (const auto& name : FileOps::listNames (target))
    {
        if (! isStagingLeftover (name, prefix))
            continue;

        auto leftover = FileOps::openFolder (target, name);

        if (! leftover || ! FileOps::isOwnedByUs (leftover) || ! FileOps::tryLock (leftover))
            continue;

        FileOps::deleteContents (leftover);
        FileOps::removeFolder (target, name, leftover);
    }
}

/** A run killed between the two renames of a replacement left the old bundle
    set aside. With the bundle path empty it goes back there first of all; with
    a bundle in place it is only the old copy, and goes with the caller's staging
    folder. Never deleted while the bundle path is empty. */
void restoreSetAsideBundle (const Handle& target, const juce::String& bundleFileName, const Handle* staging = nullptr)
{
    const auto aside = asideName (bundleFileName);
    bool ours = false;

    if (FileOps::kindOf (target, aside, &ours) == Kind::missing || ! ours)
        return;

    if (FileOps::kindOf (target, bundleFileName) == Kind::missing)
        FileOps::renameNoReplace (target, aside, target, bundleFileName);
    else if (staging != nullptr)
        FileOps::renameNoReplace (target, aside, *staging, "old");
}

/** The staging folder of one run: created locked, emptied and removed at the end. */
struct Staging
{
    Staging (const Handle& targetFolder, const juce::String& bundleFileName)
        : target (targetFolder),
          folder (FileOps::createStagingFolder (target, stagingPrefix (bundleFileName), name))
    {
    }

    ~Staging()
    {
        // Holds the old bundle after a replacement, the partial new one after a failure.
        if (folder)
        {
            FileOps::deleteContents (folder);
            FileOps::removeFolder (target, name, folder);
        }
    }

    const Handle& target;
    juce::String name;
    Handle folder;

    JUCE_DECLARE_NON_COPYABLE (Staging)
};

//==============================================================================
/** The names of an entry's path below the staging folder: "\" or "/" separate
    them, the first is the bundle's own name, and none is empty, "." or "..". */
bool splitEntryName (const DirectoryRecord& record, const juce::String& bundleFileName, juce::StringArray& parts)
{
    auto path = record.name.replaceCharacter ('\\', '/');

    if (record.isDirectory)
        path = path.dropLastCharacters (1);

    parts = juce::StringArray::fromTokens (path, "/", {});

    if (parts.isEmpty() || parts[0] != bundleFileName)
        return false;

    for (const auto& part : parts)
        if (part.isEmpty() || part == "." || part == "..")
            return false;

    return true;
}

/** Writes one file entry below folder, verified, with the entry's time. */
bool writeFileEntry (const Handle& folder, const juce::String& name, const DirectoryRecord& record, EntryWriter& writer)
{
    auto file = FileOps::createFile (folder, name);

    if (! file)
        return false;

    const bool ok = writer.write (record, file)
                     && FileOps::setTimes (file, record.time());

    // On its way to the disk while the next entries are inflated; synced with the rest.
    if (ok && durableAtAll())
        FileOps::startWriteback (file);

    return file.close() && ok;
}

/** Extracts every entry, in archive order, into the staging folder. Entries must
    lie inside the product's bundle; the first failing entry stops the run.
    Folders are made one name at a time below the staging folder's handle. */
bool extractInto (const PayloadArchive& payload, const Handle& staging, const juce::String& bundleFileName, EntryWriter& writer)
{
    std::vector<DirectoryRecord> records;

    if (! readCentralDirectory (payload, records) || records.empty())
        return false;

    for (const auto& record : records)
    {
        juce::StringArray parts;

        if (! splitEntryName (record, bundleFileName, parts))
            return false;

        const auto folderDepth = record.isDirectory ? parts.size() : parts.size() - 1;
        Handle folder;

        for (int i = 0; i < folderDepth; ++i)
            if (! (folder = FileOps::makeFolder (i == 0 ? staging : folder, parts[i])))
                return false;

        if (! record.isDirectory && ! writeFileEntry (folderDepth == 0 ? staging : folder, parts[parts.size() - 1], record, writer))
            return false;
    }

    return true;
}

/** Syncs every file and folder from this one down, each folder after what it
    holds, so the names of the staged files are on the disk as well as their data. */
bool syncTree (const Handle& folder)
{
    for (const auto& name : FileOps::listNames (folder))
    {
        const auto kind = FileOps::kindOf (folder, name);
        const auto child = kind == Kind::folder ? FileOps::openFolder (folder, name)
                                                : FileOps::openFile (folder, name);

        if (! child || ! (kind == Kind::folder ? syncTree (child) : FileOps::sync (child)))
            return false;
    }

    return FileOps::sync (folder);
}

/** Staged files and folders are on the disk before they replace anything:
    after a power loss the bundle path holds a whole bundle, old or new. */
bool makeStagedDurable (const Handle& target, const Handle& staging)
{
    switch (installerHooks().durability)
    {
        case InstallerHooks::Durability::syncEach:         return syncTree (staging);
        case InstallerHooks::Durability::syncFilesystem:   return FileOps::syncFilesystem (target);
        case InstallerHooks::Durability::none:             break;
    }

    return true;
}

//==============================================================================
/** Replaces in two renames: the old bundle is set aside under our own hidden
    name, the staged one takes its place, then the old one goes to the staging
    folder. Killed in between, the old bundle waits set aside for the next run. */
bool replaceInTwoRenames (const Handle& target, const Handle& staging, const juce::String& bundleFileName)
{
    const auto aside = asideName (bundleFileName);

    // Another run may set its own bundle in place meanwhile; a few rounds settle it.
    for (int round = 0; round < 3; ++round)
    {
        bool oldSetAside = false;

        if (FileOps::kindOf (target, bundleFileName) != Kind::missing)
        {
            const auto setAside = FileOps::renameNoReplace (target, bundleFileName, target, aside);

            if (setAside == Rename::exists)
                return false;   // an earlier run's old bundle waits there

            if (setAside != Rename::done)
                continue;

            oldSetAside = true;

            if (auto& between = installerHooks().betweenRenames)
                between();
        }

        const auto placed = FileOps::renameNoReplace (staging, bundleFileName, target, bundleFileName);

        if (placed == Rename::done && ! oldSetAside)
            return true;

        if (placed == Rename::done)
        {
            const bool oldInStaging = FileOps::renameNoReplace (target, aside, staging, bundleFileName) == Rename::done;

            if (oldInStaging && FileOps::deleteWhole (staging, bundleFileName))
                return true;

            // A host holds a module of the old bundle, which can be renamed but
            // not deleted: the new one makes way and the old one is back, whole,
            // so that no module stays where a host scans. Set aside again
            // first, so that a run killed in between finds it there.
            if (oldInStaging && FileOps::renameNoReplace (staging, bundleFileName, target, aside) != Rename::done)
                return false;

            if (FileOps::renameNoReplace (target, bundleFileName, staging, "new") == Rename::done
                 && FileOps::renameNoReplace (target, aside, target, bundleFileName) != Rename::done)
                FileOps::renameNoReplace (staging, "new", target, bundleFileName);

            return false;
        }

        restoreSetAsideBundle (target, bundleFileName);

        if (placed != Rename::exists)
            return false;
    }

    return false;
}

/** Puts the staged bundle at the bundle path in one step where the filesystem
    can; afterwards the old bundle, if there was one, sits in the staging folder. */
bool replaceBundle (const Handle& target, const Handle& staging, const juce::String& bundleFileName)
{
    if (auto& before = installerHooks().beforeReplacing)
        before();

    if (! installerHooks().forceTwoRenames)
    {
        auto result = FileOps::renameNoReplace (staging, bundleFileName, target, bundleFileName);

        if (result == Rename::exists)
            result = FileOps::exchange (staging, bundleFileName, target, bundleFileName);

        if (result != Rename::unsupported)
            return result == Rename::done;
    }

    return replaceInTwoRenames (target, staging, bundleFileName);
}

//==============================================================================
/** One format's install up to the replacement: the bundle staged, its data on
    its way to the disk. Holds the target and staging folders until finished. */
struct StagedInstall
{
    explicit StagedInstall (const juce::String& name) : bundleFileName (name) {}

    juce::String bundleFileName;
    Handle target;
    std::unique_ptr<Staging> staging;   // declared after target: it refers to it

    JUCE_DECLARE_NON_COPYABLE (StagedInstall)
};

/** Extracts the format's archive into a fresh staging folder. Without a staged
    bundle (a failure), nothing of it is left but the target folder. */
std::unique_ptr<StagedInstall> stageInstall (const juce::File& folder, const juce::String& bundleFileName,
                                             const PayloadArchive& payload, EntryWriter& writer)
{
    auto install = std::make_unique<StagedInstall> (bundleFileName);

    if (payload.data == nullptr || payload.size == 0 || ! (install->target = FileOps::openTargetFolder (folder, true)))
        return install;

    const auto& target = install->target;
    restoreSetAsideBundle (target, bundleFileName);
    removeStagingLeftovers (target, bundleFileName);

    install->staging = std::make_unique<Staging> (target, bundleFileName);
    const auto& staging = install->staging->folder;

    if (! staging)
    {
        install->staging.reset();
        return install;
    }

    restoreSetAsideBundle (target, bundleFileName, &staging);

    if (! extractInto (payload, staging, bundleFileName, writer)
         || FileOps::kindOf (staging, bundleFileName) == Kind::missing
         || ! FileOps::markCustomFolder (staging, bundleFileName))
        install->staging.reset();

    return install;
}

/** Puts the staged bundle on the disk and in place. */
bool finishInstall (StagedInstall& install)
{
    if (install.staging == nullptr)
        return false;

    const auto& target = install.target;
    const auto& staging = install.staging->folder;

    const auto timedSync = [] (auto&& sync) { const PartTimer timer (&InstallerHooks::Timings::sync); return sync(); };

    const bool ok = timedSync ([&] { return makeStagedDurable (target, staging); })
                     && replaceBundle (target, staging, install.bundleFileName)
                     && (! durableAtAll() || timedSync ([&] { return FileOps::sync (target); }));

    install.staging.reset();   // the old bundle, or the staged one that did not get in
    return ok;
}

/** Moves the bundle into a fresh staging folder in one rename and deletes it
    there: a killed run leaves the whole bundle or none at the bundle path. */
bool uninstallFormat (const juce::File& folder, const juce::String& bundleFileName)
{
    const auto target = FileOps::openTargetFolder (folder, false);

    // A folder we cannot open may still hold the bundle: only a path the system
    // reports missing counts as uninstalled.
    if (! target)
        return FileOps::kindOf (folder.getChildFile (bundleFileName)) == Kind::missing;

    restoreSetAsideBundle (target, bundleFileName);
    removeStagingLeftovers (target, bundleFileName);

    if (FileOps::kindOf (target, bundleFileName) == Kind::missing)
        return true;

    {
        Staging staging (target, bundleFileName);

        if (! staging.folder)
            return false;

        restoreSetAsideBundle (target, bundleFileName, &staging.folder);

        if (FileOps::renameNoReplace (target, bundleFileName, staging.folder, bundleFileName) != Rename::done)
            return false;

        // A module a host has loaded can be renamed but not deleted: then the
        // bundle goes back, whole, and the user closes the host and runs again.
        if (! FileOps::deleteWhole (staging.folder, bundleFileName))
        {
            FileOps::renameNoReplace (staging.folder, bundleFileName, target, bundleFileName);
            return false;
        }

        if (durableAtAll())
            FileOps::sync (target);
    }

    // Success is what the disk shows, not what a call returned.
    return FileOps::kindOf (target, bundleFileName) == Kind::missing;
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
    EntryWriter writer;   // shared by the formats

    // A staged format is finished after the next one is staged: its data goes to
    // the disk while the next archive is inflated, and its sync finds it there.
    std::unique_ptr<StagedInstall> pending;
    const auto finishPending = [&]
    {
        if (pending != nullptr)
            allSucceeded = finishInstall (*pending) && allSucceeded;

        pending.reset();
    };

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

            if (uninstall)
            {
                ok = uninstallFormat (folder, name);
            }
            else
            {
                auto staged = stageInstall (folder, name, payloads[index], writer);
                finishPending();
                pending = std::move (staged);
                ok = true;   // counted when it is finished
            }
        }

        allSucceeded = allSucceeded && ok;
        selection[index] = false;
    }

    finishPending();
    return processedAny && allSucceeded;
}

void restoreSetAsideBundles (const PerFormat<juce::File>& folders, const juce::String& productName)
{
    for (int k = 0; k < numFormats; ++k)
    {
        const auto& folder = folders[(size_t) k];

        if (folder == juce::File())
            continue;

        if (const auto target = FileOps::openTargetFolder (folder, false))
            restoreSetAsideBundle (target, bundleName (productName, k));
    }
}

void removeLeftoverScript (const juce::File& temporaryFolder)
{
    if (temporaryFolder == juce::File())
        return;

    FileOps::deleteOwnPlainFile (temporaryFolder.getChildFile ("script.sh"));
}
