#include "StateFolder.h"

namespace StateFolder
{
FileOps::Handle open (const juce::File& folder, juce::String* whyNot)
{
    juce::String ignored;
    auto& why = whyNot != nullptr ? *whyNot : ignored;
    why = {};

    if (folder == juce::File())
    {
        why = "no state folder";
        return {};
    }

    FileOps::PathReport report;
    auto handle = FileOps::openTargetFolder (folder, true, &report);

    if (! handle)
    {
        why = report.untrustedLink ? "a link on the way to " + folder.getFullPathName() + " may have been put there by another user"
                                   : folder.getFullPathName() + " could not be made or opened";
        return {};
    }

    if (! report.holdersGuarded || ! FileOps::onlyPrivilegedCanChange (handle, false))
    {
        why = folder.getFullPathName() + ", or a folder on the way to it, may be changed by others than the administrators";
        return {};
    }

    return handle;
}

FileOps::Handle lockBundle (const FileOps::Handle& state, const juce::String& bundleFileName, FileOps::Lock& result)
{
    return FileOps::takeLockFile (state, bundleFileName + ".lock", result);
}
} // namespace StateFolder
