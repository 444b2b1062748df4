#include "Installer.h"

#include "EntryData.h"
#include "FileOps.h"
#include "InstallerHooks.h"
#include "PayloadDirectory.h"
#include "RunLog.h"
#include "StateFolder.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

juce::String setAsideName (const juce::String& bundleFileName)
{
    return "." + bundleFileName + ".oh-aside";
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
using FileOps::Lock;
using FileOps::Name;
using FileOps::Rename;
using StateFolder::Made;

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

/** Opens the target folder for a run that may change it. Where someone else
    may change it, or a folder on its path (no sticky bit), nothing there is
    made, changed or deleted: any name could be swapped between our steps. */
Handle openTarget (const juce::File& folder, bool createMissing, FileOps::PathReport& report)
{
    auto target = FileOps::openTargetFolder (folder, createMissing, &report);

    if (report.changeableByOthers.isNotEmpty())
    {
        RunLog::noteRefusal (RunLog::Step::openTarget, {}, report.changeableByOthers);
        return {};
    }

    if (! target)
        RunLog::noteFailure (RunLog::Step::openTarget, {});

    return target;
}

/** Moves the entry at name into the private staging folder as stagedName and
    keeps it there only when it is the object expected: anything else someone
    put in its place goes back where it was. */
bool takeIfExpected (const Handle& from, const Name& name, const Handle& staging, const Name& stagedName,
                     const FileOps::Identity& expected)
{
    if (! expected.valid || FileOps::renameNoReplace (from, name, staging, stagedName) != Rename::done)
        return false;

    if (FileOps::identityOf (staging, stagedName) == expected)
        return true;

    FileOps::renameNoReplace (staging, stagedName, from, name);
    return false;
}

/** True when the folder at name in the target folder can only be one we made
    there: owned by us and writable by no one else. Such a folder cannot come
    from another user. Folders cannot be hard-linked; moving one into another
    folder needs write access to the folder itself (for its ".."), which no one
    else has; and renaming it within the target folder is ours alone, for a
    target folder is used only when no one else may rename its entries (only
    we may write there, or it is sticky and the entry is ours). Its record,
    made just after the folder, may be what a power cut lost. A file has no
    such proof: anyone may hard-link one of ours to any name where they may
    write, so a file needs its record. */
bool isFolderOfOursAlone (const Handle& target, const Handle& folder)
{
    // On the target's own volume: not the root of something mounted there.
    const auto self = FileOps::identityOf (folder), holder = FileOps::identityOf (target);
    return FileOps::isOursAlone (folder) && self.valid && holder.valid && self.volume == holder.volume;
}

bool isFolderOfOursAlone (const Handle& target, const Name& name)
{
    return isFolderOfOursAlone (target, FileOps::openFolder (target, name));
}

/** Removes staging folders that killed runs of this format left behind. Only
    folders of our own naming, ours alone (see isFolderOfOursAlone) and locked
    by no live run go: a name or an owner alone proves nothing, for another
    user can rename a folder of theirs that we own and they may write to, or
    hard-link a file of ours, to such a name. */
void removeStagingLeftovers (const Handle& target, const Handle& state, const juce::String& bundleFileName)
{
    if (! state)
        return;

    const auto prefix = stagingPrefix (bundleFileName);

    // Collected first: the folder is not changed while it is being listed.
    for (const auto& name : FileOps::listNames (target))
    {
        // A name that is not text is never one of ours.
        const auto text = name.toText();

        if (! text || ! isStagingLeftover (*text, prefix))
            continue;

        auto leftover = FileOps::openFolder (target, name);
        const auto identity = FileOps::identityOf (leftover);

        if (! isFolderOfOursAlone (target, leftover))
            continue;

        // Any reader holding it open looks like a live run: it only waits.
        if (FileOps::tryLock (leftover) != Lock::taken)
        {
            RunLog::note ("the leftover " + *text + " is held open by another run or program and stays for a later run");
            continue;
        }

        // What cannot go now stays for a later run.
        if (FileOps::deleteContents (leftover) && FileOps::removeFolder (target, name, leftover))
            StateFolder::forgetMade (state, bundleFileName, Made::staging, identity);
    }

    // Records whose objects are gone: a run killed between deleting an object
    // and dropping its record left them.
    std::vector<FileOps::Identity> present;
    const auto ours = "." + bundleFileName + ".oh-";

    for (const auto& name : FileOps::listNames (target))
        if (const auto text = name.toText(); text && text->startsWith (ours))
            present.push_back (FileOps::identityOf (target, name));

    StateFolder::forgetAllBut (state, bundleFileName, present);
}

/** A run killed between the two renames of a replacement left the old bundle
    set aside, under the shared name or, where something not ours held that,
    under the name of its own run. With the bundle path empty it goes back there
    first of all; with a bundle in place it is only the old copy, and goes with
    the caller's staging folder. Never deleted while the bundle path is empty,
    and left alone unless it is provably ours: recorded in the state folder by
    the run that set it aside, or a folder ours alone. */
void restoreSetAsideBundle (const Handle& target, const Handle& state, const juce::String& bundleFileName,
                            const Handle* staging = nullptr)
{
    // Where renames take no flags, a run claims the bundle path by an empty
    // placeholder just before its rename: killed in between, it left the
    // path empty in all but name. (Only we can add entries here.)
    if (FileOps::isUnusedClaim (target, bundleFileName))
        FileOps::deleteTree (target, bundleFileName);

    const auto shared = setAsideName (bundleFileName);
    std::vector<Name> names { Name (shared) };

    for (const auto& name : FileOps::listNames (target))
        if (const auto text = name.toText();
            text && text->startsWith (shared + "-") && text->length() == shared.length() + 1 + stagingSuffixLength)
            names.push_back (name);

    for (const auto& aside : names)
    {
        const auto setAside = FileOps::identityOf (target, aside);

        if (! setAside.valid)
            continue;

        if (! StateFolder::wasMade (state, bundleFileName, Made::setAside, target, aside))
        {
            // A set-aside name claimed the same way, for a rename that a power
            // cut undid or a disk lost: empty, it holds nothing to keep or to put back.
            if (FileOps::isUnusedClaim (target, aside))
            {
                FileOps::deleteTree (target, aside);
                continue;
            }

            if (! isFolderOfOursAlone (target, aside))
                continue;
        }

        // In the staging folder under its own name, which no other entry there has.
        const bool moved = FileOps::kindOf (target, bundleFileName) == Kind::missing
                               ? FileOps::renameNoReplace (target, aside, target, bundleFileName) == Rename::done
                               : staging != nullptr && FileOps::renameNoReplace (target, aside, *staging, aside) == Rename::done;

        if (moved)
            StateFolder::forgetMade (state, bundleFileName, Made::setAside, setAside);
    }
}

/** Puts the old bundle set aside at aside back at the bundle path, if it is
    still what was set aside: through the private staging folder, so that
    nothing put in its place meanwhile reaches the bundle path, or, where it
    cannot move into the staging folder (a folder with a file open below),
    straight back and checked there. Never left hidden where it could go back. */
void putBackSetAside (const Handle& target, const Handle& staging, const juce::String& bundleFileName,
                      const juce::String& aside, const FileOps::Identity& setAside)
{
    if (takeIfExpected (target, aside, staging, "aside", setAside))
    {
        if (FileOps::renameNoReplace (staging, "aside", target, bundleFileName) != Rename::done)
            FileOps::renameNoReplace (staging, "aside", target, aside);

        return;
    }

    if (setAside.valid && FileOps::identityOf (target, aside) == setAside
         && FileOps::renameNoReplace (target, aside, target, bundleFileName) == Rename::done
         && FileOps::identityOf (target, bundleFileName) != setAside)
        FileOps::renameNoReplace (target, bundleFileName, target, aside);
}

/** The staging folder of one run: created locked and recorded as ours in the
    state folder, emptied and removed at the end. */
struct Staging
{
    Staging (const Handle& targetFolder, const Handle& stateFolder, const juce::String& bundleFile)
        : target (targetFolder),
          state (stateFolder),
          bundleFileName (bundleFile),
          folder (FileOps::createStagingFolder (target, stagingPrefix (bundleFileName), name)),
          identity (folder ? FileOps::identityOf (folder) : FileOps::Identity())   // keeps a failure's error for the log
    {
        // Unrecorded, a leftover of a killed run would stay for good.
        if (folder && state && ! StateFolder::recordMade (state, bundleFileName, Made::staging, identity))
        {
            FileOps::removeFolder (target, name, folder);
            folder = Handle();
        }
    }

    ~Staging()   { remove(); }

    /** Deletes it with what it holds: the old bundle after a replacement, the
        partial new one after a failure. True when it is gone. */
    bool remove()
    {
        if (! folder)
            return true;

        const bool removed = FileOps::deleteContents (folder) && FileOps::removeFolder (target, name, folder);
        folder = Handle();
        return removed && StateFolder::forgetMade (state, bundleFileName, Made::staging, identity);
    }

    const Handle& target;
    const Handle& state;
    juce::String bundleFileName, name;
    Handle folder;
    FileOps::Identity identity;

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

/** Files written into the staging folder, kept open until they are synced
    through the very handle that wrote them: a write error that only shows at
    the sync is then reported to us, not lost between a close and a reopen. */
struct WrittenFiles
{
    // A bundle of many files syncs its oldest ones early instead of holding
    // more descriptors than the process may have.
    static constexpr size_t maxOpen = 200;

    std::vector<Handle> open;
    bool failed = false;

    void add (Handle file)
    {
        if (open.size() >= maxOpen)
        {
            failed = ! syncAndClose (open.front()) || failed;
            open.erase (open.begin());
        }

        open.push_back (std::move (file));
    }

    bool syncAll()
    {
        for (auto& file : open)
            failed = ! syncAndClose (file) || failed;

        open.clear();
        return ! failed;
    }

    static bool syncAndClose (Handle& file)
    {
        const bool synced = FileOps::sync (file);
        return file.close() && synced;
    }
};

/** Writes one file entry below folder, verified, with the entry's time. */
bool writeFileEntry (const Handle& folder, const juce::String& name, const DirectoryRecord& record,
                     EntryWriter& writer, WrittenFiles& written)
{
    auto file = FileOps::createFile (folder, name);

    if (! file)
    {
        RunLog::noteFailure (RunLog::Step::stage, record.name);
        return false;
    }

    // Content that does not check out leaves no system error; a failed write does.
    RunLog::restoreLastSystemError (0);

    if (! writer.write (record, file))
    {
        const auto error = RunLog::lastSystemError();
        RunLog::noteFailure (error == 0 ? RunLog::Step::verify : RunLog::Step::stage, record.name, error);
        return false;
    }

    if (! FileOps::setTimes (file, record.time()))
    {
        RunLog::noteFailure (RunLog::Step::stage, record.name);
        return false;
    }

    // On its way to the disk while the next entries are inflated; synced with the rest.
    if (installerHooks().durability == InstallerHooks::Durability::syncEach)
    {
        FileOps::startWriteback (file);
        written.add (std::move (file));
        return true;
    }

    if (! file.close())
    {
        RunLog::noteFailure (RunLog::Step::stage, record.name);
        return false;
    }

    return true;
}

/** Extracts every entry, in archive order, into the staging folder. Entries must
    lie inside the product's bundle, each name once; the first failing entry
    stops the run. Folders are made one name at a time below the staging
    folder's handle. */
bool extractInto (const PayloadArchive& payload, const Handle& staging, const juce::String& bundleFileName,
                  EntryWriter& writer, WrittenFiles& written)
{
    std::vector<DirectoryRecord> records;

    if (! readCentralDirectory (payload, records) || records.empty())
    {
        RunLog::noteFailure (RunLog::Step::verify, {}, 0);
        return false;
    }

    // Windows folds case, and the packer refuses such pairs: a second entry of
    // a name already extracted would silently replace the first.
    std::set<juce::String> seen;

    for (const auto& record : records)
    {
        juce::StringArray parts;

        if (! splitEntryName (record, bundleFileName, parts)
             || ! seen.insert (parts.joinIntoString ("/").toLowerCase()).second)
        {
            RunLog::noteFailure (RunLog::Step::verify, record.name, 0);
            return false;
        }

        const auto folderDepth = record.isDirectory ? parts.size() : parts.size() - 1;
        Handle folder;

        for (int i = 0; i < folderDepth; ++i)
        {
            if (! (folder = FileOps::makeFolder (i == 0 ? staging : folder, parts[i])))
            {
                RunLog::noteFailure (RunLog::Step::stage, parts.joinIntoString ("/", 0, i + 1));
                return false;
            }
        }

        if (! record.isDirectory
             && ! writeFileEntry (folderDepth == 0 ? staging : folder, parts[parts.size() - 1], record, writer, written))
            return false;
    }

    return true;
}

/** Syncs every folder from this one down, each after the folders it holds, so
    the names of the staged files are on the disk as well as their data. */
bool syncFolders (const Handle& folder)
{
    for (const auto& name : FileOps::listNames (folder))
    {
        if (FileOps::kindOf (folder, name) != Kind::folder)
            continue;

        const auto child = FileOps::openFolder (folder, name);

        if (! child || ! syncFolders (child))
            return false;
    }

    return FileOps::sync (folder);
}

/** The staged bundle's files and folders are on the disk before they replace
    anything: after a power loss the bundle path holds a whole bundle, old or
    new. Only the new bundle and the staging folder are synced, never an old
    bundle that waits in the staging folder to be deleted. */
bool makeStagedDurable (const Handle& target, const Handle& staging, const juce::String& bundleFileName,
                        WrittenFiles& written)
{
    switch (installerHooks().durability)
    {
        case InstallerHooks::Durability::syncEach:
        {
            if (! written.syncAll())
                return false;

            if (FileOps::kindOf (staging, bundleFileName) == Kind::folder)
            {
                const auto bundle = FileOps::openFolder (staging, bundleFileName);

                if (! bundle || ! syncFolders (bundle))
                    return false;
            }

            return FileOps::sync (staging);
        }

        case InstallerHooks::Durability::syncFilesystem:   return FileOps::syncFilesystem (target);
        case InstallerHooks::Durability::none:             break;
    }

    return true;
}

//==============================================================================
/** Replaces in two renames: the old bundle is set aside under our own hidden
    name, the staged one takes its place, then the old one goes to the staging
    folder. Killed in between, the old bundle waits set aside for the next run.
    When something that is not provably ours holds that name, this run sets
    aside under a name of its own instead (runSuffix), so such an object never
    blocks installs for good; only the shared name is put back at start. */
bool replaceInTwoRenames (const Handle& target, const Handle& state, const Handle& staging,
                          const juce::String& bundleFileName, const juce::String& runSuffix)
{
    auto aside = setAsideName (bundleFileName);

    // Another run may set its own bundle in place meanwhile; a few rounds settle it.
    for (int round = 0; round < 3; ++round)
    {
        FileOps::Identity setAside;
        bool oldSetAside = false;

        // Once it is no longer at the name it was set aside under, its record goes.
        const auto forgetIfMoved = [&]
        {
            if (setAside.valid && FileOps::identityOf (target, aside) != setAside)
                StateFolder::forgetMade (state, bundleFileName, Made::setAside, setAside);
        };

        if (const auto old = FileOps::identityOf (target, bundleFileName); old.valid)
        {
            // Recorded before the rename: a run killed right after it leaves
            // the old bundle set aside and provably ours.
            if (state && ! StateFolder::recordMade (state, bundleFileName, Made::setAside, old))
                return false;

            auto result = FileOps::renameNoReplace (target, bundleFileName, target, aside);

            if (result == Rename::exists)
            {
                // An earlier run's old bundle of ours would have gone with the
                // staging folder by now: what holds the name is not ours.
                aside = setAsideName (bundleFileName) + "-" + runSuffix;
                result = FileOps::renameNoReplace (target, bundleFileName, target, aside);
            }

            if (result != Rename::done)
            {
                StateFolder::forgetMade (state, bundleFileName, Made::setAside, old);

                // Taken meanwhile: look again. A file in it open (a host,
                // Explorer, a reader) lasts until they close it, and the
                // bundle stays as it is; anything else is the disk's failure.
                if (result == Rename::exists)
                    continue;

                return false;
            }

            oldSetAside = true;
            setAside = old;

            // Only what we looked at may wait there: anything else goes back.
            if (FileOps::identityOf (target, aside) != old)
            {
                StateFolder::forgetMade (state, bundleFileName, Made::setAside, old);
                FileOps::renameNoReplace (target, aside, target, bundleFileName);
                return false;
            }

            if (auto& between = installerHooks().betweenRenames)
                between();
        }

        const auto staged = FileOps::identityOf (staging, bundleFileName);
        auto placed = FileOps::renameNoReplace (staging, bundleFileName, target, bundleFileName);

        // Nothing of the old bundle goes unless the disk shows the new one in
        // its place: a rename reported done is not yet a bundle in place.
        if (placed == Rename::done && FileOps::identityOf (target, bundleFileName) != staged)
        {
            if (FileOps::isUnusedClaim (target, bundleFileName))
                FileOps::deleteTree (target, bundleFileName);

            placed = Rename::failed;
        }

        if (placed == Rename::done && ! oldSetAside)
            return true;

        if (placed == Rename::done)
        {
            // The old bundle goes with the staging folder. Where it cannot be
            // moved there, it waits set aside, recorded, for the next run.
            const Name old ("old-" + bundleFileName);

            if (! takeIfExpected (target, aside, staging, old, setAside))
                return false;

            // The renames on the disk before any deletion: a filesystem may
            // write a later change in one folder before an earlier one in
            // another, and the old bundle must not lose files where it stands.
            if (durableAtAll() && ! FileOps::sync (target))
                return false;

            bool keptWhole = true;

            if (FileOps::deleteWhole (staging, old, &keptWhole))
                return StateFolder::forgetMade (state, bundleFileName, Made::setAside, setAside);

            // Part of it gone (a failing disk): the new bundle stays, the rest of
            // the old one goes with the staging folder.
            if (! keptWhole)
                return false;

            // A host holds a module of the old bundle, which can be renamed but
            // not deleted: the new one makes way and the old one is back, whole,
            // so that no module stays where a host scans. Set aside again
            // first (its record is still there), so that a run killed in
            // between finds it there.
            RunLog::noteFailure (RunLog::Step::remove, bundleFileName);

            if (FileOps::renameNoReplace (staging, old, target, aside) != Rename::done)
                return false;

            // Never an empty bundle path: where the old one cannot come back,
            // the new one does.
            if (FileOps::renameNoReplace (target, bundleFileName, staging, "new") == Rename::done
                 && (FileOps::identityOf (target, aside) != setAside
                      || FileOps::renameNoReplace (target, aside, target, bundleFileName) != Rename::done)
                 && FileOps::renameNoReplace (staging, "new", target, bundleFileName) != Rename::done)
                putBackSetAside (target, staging, bundleFileName, aside, setAside);

            forgetIfMoved();
            return false;
        }

        if (oldSetAside)
            putBackSetAside (target, staging, bundleFileName, aside, setAside);

        forgetIfMoved();

        if (placed != Rename::exists)
            return false;
    }

    return false;
}

/** Puts the staged bundle at the bundle path in one step where the filesystem
    can; afterwards the old bundle, if there was one, sits in the staging folder. */
bool replaceBundle (const Handle& target, const Handle& state, const Handle& staging, const juce::String& bundleFileName,
                    const juce::String& runSuffix)
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

    return replaceInTwoRenames (target, state, staging, bundleFileName, runSuffix);
}

//==============================================================================
/** One format's install up to the replacement: the bundle staged, its data on
    its way to the disk. Holds the target and staging folders until finished. */
struct StagedInstall
{
    StagedInstall (const juce::String& name, const Handle& stateFolder) : bundleFileName (name), state (stateFolder) {}

    juce::String bundleFileName;
    const Handle& state;
    Handle lock;                        // this bundle name's, in the state folder: one run at a time
    Handle target;
    std::unique_ptr<Staging> staging;   // declared after target: it refers to it
    WrittenFiles written;               // closed before the staging folder goes

    JUCE_DECLARE_NON_COPYABLE (StagedInstall)
};

/** Extracts the format's archive into a fresh staging folder. Without a staged
    bundle (a failure), nothing of it is left but the target folder. */
std::unique_ptr<StagedInstall> stageInstall (const juce::File& folder, const Handle& state, const juce::String& bundleFileName,
                                             const PayloadArchive& payload, EntryWriter& writer)
{
    auto install = std::make_unique<StagedInstall> (bundleFileName, state);

    if (payload.data == nullptr || payload.size == 0)
    {
        RunLog::noteFailure (RunLog::Step::verify, {}, 0);
        return install;
    }

    FileOps::PathReport report;

    if (! (install->target = openTarget (folder, true, report)))
        return install;

    const auto& target = install->target;
    restoreSetAsideBundle (target, state, bundleFileName);
    removeStagingLeftovers (target, state, bundleFileName);

    install->staging = std::make_unique<Staging> (target, state, bundleFileName);
    const auto& staging = install->staging->folder;

    if (! staging)
    {
        RunLog::noteFailure (RunLog::Step::stage, stagingPrefix (bundleFileName) + "*");
        install->staging.reset();
        return install;
    }

    restoreSetAsideBundle (target, state, bundleFileName, &staging);

    if (! extractInto (payload, staging, bundleFileName, writer, install->written)
         || FileOps::kindOf (staging, bundleFileName) == Kind::missing)
    {
        // After an entry's own failure, already noted, this one does not count.
        RunLog::noteFailure (RunLog::Step::verify, bundleFileName, 0);

        install->written.open.clear();   // closed first: an open file cannot be deleted everywhere
        install->staging.reset();
    }
    else if (! FileOps::markCustomFolder (staging, bundleFileName))
    {
        RunLog::noteFailure (RunLog::Step::stage, bundleFileName + "/desktop.ini");

        install->written.open.clear();
        install->staging.reset();
    }

    return install;
}

/** Puts the staged bundle on the disk and in place. */
bool finishInstall (StagedInstall& install)
{
    if (install.staging == nullptr)
        return false;

    const auto& target = install.target;
    const auto& staging = install.staging->folder;

    const auto& name = install.bundleFileName;
    const auto timedSync = [] (auto&& sync) { const PartTimer timer (&InstallerHooks::Timings::sync); return sync(); };

    // Success is what the disk holds: the very object staged at the bundle path,
    // synced there, and the old bundle deleted with the staging folder.
    const auto staged = FileOps::identityOf (staging, name);
    const auto placed = [&] { return staged.valid && FileOps::identityOf (target, name) == staged; };
    const auto failed = [] (RunLog::Step step, const juce::String& path) { RunLog::noteFailure (step, path); return false; };

    const bool ok = (timedSync ([&] { return makeStagedDurable (target, staging, name, install.written); }) || failed (RunLog::Step::sync, name))
                     && (replaceBundle (target, install.state, staging, name, install.staging->name.getLastCharacters (stagingSuffixLength))
                          || failed (RunLog::Step::swap, name))
                     && (placed() || failed (RunLog::Step::verify, name))
                     && (! durableAtAll() || timedSync ([&] { return FileOps::sync (target); }) || failed (RunLog::Step::sync, {}));

    // The old bundle, or the staged one that did not get in. One that stays
    // waits, hidden, for the next run, and this one says so.
    const bool removed = install.staging->remove();
    install.staging.reset();
    return ok && (removed || failed (RunLog::Step::remove, name));
}

/** Moves the bundle into a fresh staging folder in one rename and deletes it
    there: a killed run leaves the whole bundle or none at the bundle path. */
bool uninstallFormat (const juce::File& folder, const Handle& state, const juce::String& bundleFileName)
{
    FileOps::PathReport report;
    const auto target = openTarget (folder, false, report);

    // A folder we cannot open may still hold the bundle: only a path that is
    // not there, in folders no one else can change, counts as uninstalled.
    if (! target)
        return report.missing && ! report.untrustedLink && report.changeableByOthers.isEmpty();

    restoreSetAsideBundle (target, state, bundleFileName);
    removeStagingLeftovers (target, state, bundleFileName);

    if (FileOps::kindOf (target, bundleFileName) == Kind::missing)
        return true;

    Staging staging (target, state, bundleFileName);

    if (! staging.folder)
    {
        RunLog::noteFailure (RunLog::Step::remove, bundleFileName);
        return false;
    }

    restoreSetAsideBundle (target, state, bundleFileName, &staging.folder);

    if (FileOps::renameNoReplace (target, bundleFileName, staging.folder, bundleFileName) != Rename::done)
    {
        RunLog::noteFailure (RunLog::Step::remove, bundleFileName);
        return false;
    }

    // The bundle path empty on the disk before any file of the bundle goes:
    // a filesystem may write a later change in one folder before an earlier
    // one in another, and a bundle must not lose files where it stands.
    // Without that, the bundle goes back whole.
    if (durableAtAll() && ! FileOps::sync (target))
    {
        RunLog::noteFailure (RunLog::Step::sync, {});
        FileOps::renameNoReplace (staging.folder, bundleFileName, target, bundleFileName);
        return false;
    }

    // A module a host has loaded can be renamed but not deleted: then the
    // bundle goes back, whole, and the user closes the host and runs again.
    // Part of it deleted (a failing disk), it never goes back: the rest goes
    // with the staging folder, now or in a later run.
    if (bool keptWhole = true; ! FileOps::deleteWhole (staging.folder, bundleFileName, &keptWhole))
    {
        RunLog::noteFailure (RunLog::Step::remove, bundleFileName);

        if (keptWhole)
            FileOps::renameNoReplace (staging.folder, bundleFileName, target, bundleFileName);

        return false;
    }

    // The bundle is deleted; what could not be deleted stays hidden for a
    // later run, and the run says so. Success is what the disk shows, not
    // what a call returned.
    const bool removed = staging.remove();

    if (! removed)
        RunLog::noteFailure (RunLog::Step::remove, bundleFileName);
    else if (FileOps::kindOf (target, bundleFileName) != Kind::missing)
        RunLog::noteFailure (RunLog::Step::remove, bundleFileName, 0);

    return removed && FileOps::kindOf (target, bundleFileName) == Kind::missing;
}
} // namespace

//==============================================================================
bool processSelectedFormats (PerFormat<bool>& selection,
                             bool uninstall,
                             const PerFormat<juce::File>& folders,
                             const juce::String& productName,
                             const PerFormat<PayloadArchive>& payloads,
                             PerFormat<FormatOutcome>* outcomes,
                             const RunState& runState)
{
    bool processedAny = false;
    bool allSucceeded = true;
    EntryWriter writer;   // shared by the formats
    PerFormat<RunLog::Failure> failures;

    // A state folder others could change is no better than none: then nothing
    // is locked or recorded, and nothing left behind counts as ours. One that
    // cannot be made or opened (a failing disk) fails every format.
    juce::String stateProblem;
    bool stateUntrusted = false;
    const auto state = runState.folder == juce::File() ? Handle() : StateFolder::open (runState.folder, &stateProblem, &stateUntrusted);

    if (stateUntrusted)
        stateProblem = {};

    // Files another program keeps holding are waited for at most this long in
    // all: the window that runs this stays frozen no longer.
    const auto selected = (juce::uint32) std::count (selection.begin(), selection.end(), true);
    const FileOps::BusyWaitBudget busyWaits (selected * busyWaitPerFormatMs);

    if (outcomes != nullptr)
        *outcomes = {};

    // Each format's ending goes to the log, and to the caller when it asks.
    const auto formatProcessed = [&] (int k, bool removing, bool ok)
    {
        const auto index = (size_t) k;
        RunLog::formatProcessed (k, removing, folders[index], ok, failures[index]);

        if (outcomes != nullptr)
            (*outcomes)[index] = { true, ok, failures[index] };
    };

    // A staged format is finished after the next one is staged: its data goes to
    // the disk while the next archive is inflated, and its sync finds it there.
    std::unique_ptr<StagedInstall> pending;
    int pendingFormat = 0;
    const auto finishPending = [&]
    {
        if (pending != nullptr)
        {
            auto& failure = failures[(size_t) pendingFormat];
            const RunLog::FailureScope scope (failure);
            const bool ok = finishInstall (*pending);
            formatProcessed (pendingFormat, false, ok);
            allSucceeded = ok && allSucceeded;
        }

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
        const RunLog::FailureScope scope (failures[index]);

        const auto name = bundleName (productName, k);
        FileOps::Lock locked = FileOps::Lock::taken;
        Handle lock;

        if (state && ! runState.callerHoldsLocks)
            lock = StateFolder::lockBundle (state, name, locked);

        if (bundle == juce::File())
        {
            RunLog::noteFailure (RunLog::Step::openTarget, {}, 0);
            formatProcessed (k, uninstall, false);
        }
        else if (stateProblem.isNotEmpty() || locked != FileOps::Lock::taken)
        {
            RunLog::noteRefusal (RunLog::Step::openTarget, {},
                                 stateProblem.isNotEmpty() ? stateProblem
                                 : locked == FileOps::Lock::busy ? "another run is installing or removing " + name
                                                                 : "the lock of " + name + " could not be taken");
            formatProcessed (k, uninstall, false);
        }
        else
        {
            const auto& folder = folders[index];

            if (uninstall)
            {
                ok = uninstallFormat (folder, state, name);
                formatProcessed (k, true, ok);
            }
            else
            {
                auto staged = stageInstall (folder, state, name, payloads[index], writer);
                staged->lock = std::move (lock);
                finishPending();
                pending = std::move (staged);
                pendingFormat = k;
                ok = true;   // counted when it is finished
            }
        }

        allSucceeded = allSucceeded && ok;
        selection[index] = false;
    }

    finishPending();
    return processedAny && allSucceeded;
}

void restoreSetAsideBundles (const PerFormat<juce::File>& folders, const juce::String& productName,
                             const RunState& runState)
{
    // Only what a run recorded in the state folder is put back.
    if (runState.folder == juce::File())
        return;

    const auto state = StateFolder::open (runState.folder);
    const FileOps::BusyWaitBudget busyWaits (busyWaitPerFormatMs);

    for (int k = 0; k < numFormats; ++k)
    {
        const auto& folder = folders[(size_t) k];
        const auto name = bundleName (productName, k);
        FileOps::Lock locked;
        FileOps::PathReport report;

        if (folder == juce::File() || ! state)
            continue;

        // A run at work on this bundle will see to it itself.
        const auto lock = runState.callerHoldsLocks ? Handle() : StateFolder::lockBundle (state, name, locked);

        if (runState.callerHoldsLocks || lock)
            if (const auto target = FileOps::openTargetFolder (folder, false, &report); target && report.changeableByOthers.isEmpty())
                restoreSetAsideBundle (target, state, name);
    }
}

void removeLeftoverScript (const juce::File& temporaryFolder)
{
    if (temporaryFolder == juce::File())
        return;

    FileOps::deleteOwnPlainFile (temporaryFolder.getChildFile ("script.sh"));
}
