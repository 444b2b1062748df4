// Payload archives from fuzzed bytes, installed over an existing bundle.
// Input: one byte that picks the format (its value modulo 3), then the archive.
//
// After every input:
// - a rejected archive leaves the whole workspace as it was: the old bundle byte
//   for byte, the other formats, the canary tree beside the target folders, and
//   no staging folder;
// - an accepted one changed nothing but the bundle path of its format.
#include "FuzzSandbox.h"
#include "Installer.h"

#include <sys/stat.h>
#include <unistd.h>

namespace
{
    juce::File workspace;
    PerFormat<juce::File> folders;
    FuzzSandbox::Tree pristine;

    void write (const juce::File& f, const juce::String& text)
    {
        if (! f.getParentDirectory().createDirectory() || ! f.replaceWithText (text))
            FuzzSandbox::fail ("cannot write " + f.getFullPathName());
    }

    void link (const juce::File& at, const char* target)
    {
        if (symlink (target, at.getFullPathName().toRawUTF8()) != 0)
            FuzzSandbox::fail ("cannot link " + at.getFullPathName());
    }

    /** The bundle an earlier install left; the VST3 one holds a link out to the canary. */
    void makeOldBundle (int k)
    {
        const auto bundle = bundlePath (folders[(size_t) k], "Velquin", k);

        if (k == 1)
        {
            write (bundle, "old clap module");
            return;
        }

        write (bundle.getChildFile ("desktop.ini"), "[.ShellClassInfo]\r\n");
        write (bundle.getChildFile ("Contents/x64/Velquin.module"), "old module " + juce::String (k));

        if (k == 0)
            link (bundle.getChildFile ("Contents/shared"), "../../../../canary");
    }

    void layOut()
    {
        write (workspace.getChildFile ("canary/keep.txt"), "canary");
        write (workspace.getChildFile ("canary/deeper/keep.bin"), "canary, one level down");
        write (workspace.getChildFile ("plugins/canary.txt"), "beside the target folders");

        folders = { workspace.getChildFile ("plugins/VST3"),
                    workspace.getChildFile ("plugins/CLAP"),
                    workspace.getChildFile ("plugins/AAX") };

        for (int k = 0; k < numFormats; ++k)
            makeOldBundle (k);

        // A link named like a staging leftover: cleaning up must not follow it.
        link (folders[0].getChildFile (".Velquin.vst3.oh-staging-trap00"), "../../canary");

        pristine = FuzzSandbox::snapshot (workspace);
    }
}

extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv)
{
    workspace = FuzzSandbox::makeWorkspace ("archive");
    FuzzSandbox::removeAtExit (workspace);
    FuzzSandbox::confineWritesTo (workspace, *argc, *argv);
    layOut();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    if (size < 1)
        return 0;

    const int k = data[0] % numFormats;
    PerFormat<PayloadArchive> payloads {};
    payloads[(size_t) k] = { data + 1, size - 1 };

    PerFormat<bool> selection {};
    selection[(size_t) k] = true;

    const bool installed = processSelectedFormats (selection, false, folders, "Velquin", payloads);
    auto after = FuzzSandbox::snapshot (workspace);

    if (selection[(size_t) k])
        FuzzSandbox::fail ("the processed format is still selected");

    if (! installed)
    {
        FuzzSandbox::expectSameTree (pristine, after, "a rejected archive changed the workspace");
        return 0;
    }

    // Accepted: apart from the bundle path, everything is as it was.
    const auto bundle = bundlePath (folders[(size_t) k], "Velquin", k);
    const auto bundleKey = bundle.getRelativePathFrom (workspace).toStdString();
    struct stat info;

    if (lstat (bundle.getFullPathName().toRawUTF8(), &info) != 0 || S_ISLNK (info.st_mode))
        FuzzSandbox::fail ("an accepted archive left no bundle");

    const auto withoutBundle = [&bundleKey] (FuzzSandbox::Tree tree)
    {
        for (auto it = tree.begin(); it != tree.end();)
            it = (it->first == bundleKey || it->first.rfind (bundleKey + "/", 0) == 0) ? tree.erase (it) : std::next (it);

        return tree;
    };

    FuzzSandbox::expectSameTree (withoutBundle (pristine), withoutBundle (after),
                                 "an accepted archive changed more than its bundle");

    FuzzSandbox::removeTree (bundle);
    makeOldBundle (k);
    return 0;
}
