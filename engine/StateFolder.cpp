#include "StateFolder.h"

#include <algorithm>

namespace StateFolder
{
FileOps::Handle open (const juce::File& folder, juce::String* whyNot, bool* untrusted)
{
    juce::String ignored;
    auto& why = whyNot != nullptr ? *whyNot : ignored;
    why = {};

    bool ignoredToo = false;
    auto& othersMayChange = untrusted != nullptr ? *untrusted : ignoredToo;
    othersMayChange = false;

    if (folder == juce::File())
    {
        why = "no state folder";
        return {};
    }

    FileOps::PathReport report;
    auto handle = FileOps::openTargetFolder (folder, true, &report);

    if (! handle)
    {
        othersMayChange = report.untrustedLink || report.changeableByOthers.isNotEmpty();
        why = report.untrustedLink ? "a link on the way to " + folder.getFullPathName() + " may have been put there by another user"
                                   : folder.getFullPathName() + " could not be made or opened";
        return {};
    }

    if (! report.holdersGuarded || ! FileOps::onlyPrivilegedCanChange (handle, false))
    {
        othersMayChange = true;
        why = folder.getFullPathName() + ", or a folder on the way to it, may be changed by others than the administrators";
        return {};
    }

    return handle;
}

namespace
{
/** One empty file per object made: creating it is the record, removing it the forgetting. */
FileOps::Name recordName (const juce::String& bundleFileName, Made made, const FileOps::Identity& identity)
{
    return bundleFileName + (made == Made::staging ? ".made-staging-" : ".made-aside-") + FileOps::lastingKeyOf (identity);
}
} // namespace

FileOps::Handle lockBundle (const FileOps::Handle& state, const juce::String& bundleFileName, FileOps::Lock& result)
{
    return FileOps::takeLockFile (state, bundleFileName + ".lock", result);
}

bool recordMade (const FileOps::Handle& state, const juce::String& bundleFileName, Made made, const FileOps::Identity& identity)
{
    if (! state || ! identity.valid)
        return false;

    const auto name = recordName (bundleFileName, made, identity);
    auto record = FileOps::createFile (state, name);

    // Durable before the caller moves the object it vouches for: a cut that
    // kept the move and lost the record would leave a set-aside file no run
    // may put back.
    if (record && record.close() && FileOps::sync (state))
        return true;

    // A record that may not last is none: its object is not left behind to trust it.
    FileOps::deleteTree (state, name);
    return false;
}

bool wasMade (const FileOps::Handle& state, const juce::String& bundleFileName, Made made, const FileOps::Handle& folder,
              const FileOps::Name& name)
{
    // A record names no volume that may change between boots: the object must
    // lie on the volume of its folder, not on another mounted at its name.
    const auto identity = FileOps::identityOf (folder, name);
    const auto holder = FileOps::identityOf (folder);

    return state && identity.valid && holder.valid && identity.volume == holder.volume
            && FileOps::kindOf (state, recordName (bundleFileName, made, identity)) == FileOps::Kind::file;
}

bool forgetMade (const FileOps::Handle& state, const juce::String& bundleFileName, Made made, const FileOps::Identity& identity)
{
    // Not synced: a record that comes back after a power cut names an object
    // that is gone, and the next run drops it (forgetAllBut).
    return ! state || ! identity.valid || FileOps::deleteTree (state, recordName (bundleFileName, made, identity));
}

bool forgetAllBut (const FileOps::Handle& state, const juce::String& bundleFileName, const std::vector<FileOps::Identity>& present)
{
    if (! state)
        return true;

    const auto prefix = bundleFileName + ".made-";
    bool ok = true;

    for (const auto& name : FileOps::listNames (state))
    {
        const auto text = name.toText();

        if (! text || ! text->startsWith (prefix))
            continue;

        const bool stillThere = std::any_of (present.begin(), present.end(), [&] (const FileOps::Identity& identity)
        {
            return *text == recordName (bundleFileName, Made::staging, identity).toText()
                || *text == recordName (bundleFileName, Made::setAside, identity).toText();
        });

        if (! stillThere)
            ok = FileOps::deleteTree (state, name) && ok;
    }

    return ok;
}
} // namespace StateFolder
