// Fuzzed names, links and pipes in a target folder and in the old bundle,
// then an install and an uninstall of the VST3 bundle over them.
//
// Input: one byte of settings (its value modulo 8 picks the rights of the
// target folder from folderRights, bit 3 gives the folder holding it to
// group 4242, writable by it), then records of one byte of kind, one byte of
// length and that many bytes of name. Kinds (value modulo 8): a file, a
// folder holding a file, a link to the canary tree, a link to "/", a dangling
// link, a pipe, in the target folder for even records and inside the old
// bundle for odd ones. A name keeps its bytes but for "/" and NUL.
//
// After every input:
// - where others may change the target folder or the one holding it (no
//   sticky bit), both runs are refused and nothing changes at all;
// - elsewhere both runs succeed; the install leaves exactly the fresh bundle
//   at the bundle path, the uninstall nothing;
// - nothing outside the target folder changes (the canary tree beside it,
//   reached through the fuzzed links, included);
// - every entry of the target folder but the bundle path stays as it was:
//   names of our own form (".Velquin.vst3.oh-...") too, for no run of ours
//   recorded them in the state folder, unless such a name holds a folder that
//   root owns and no one else may write to: only root can have made that
//   there, and a run may take it for a leftover of its own.
#include "FuzzSandbox.h"
#include "Installer.h"
#include "support/ZipFixture.h"

#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    namespace fs = std::filesystem;

    juce::File workspace;
    std::string holder, target, canary, state;
    juce::MemoryBlock archive;
    FuzzSandbox::Tree freshBundle;
    const std::string bundle = "Velquin.vst3";

    PerFormat<PayloadArchive> payloads()
    {
        return { PayloadArchive { archive.getData(), archive.getSize() }, PayloadArchive {}, PayloadArchive {} };
    }

    bool run (bool uninstall)
    {
        PerFormat<bool> selection { true, false, false };
        const PerFormat<juce::File> folders { juce::File (juce::String::fromUTF8 (target.data(), (int) target.size())), {}, {} };
        return processSelectedFormats (selection, uninstall, folders, "Velquin", payloads(), nullptr,
                                       { juce::File (juce::String (state)) });
    }

    /** Owner, group and mode of the target folder; the refused ones let
        others than root rename its entries. */
    struct Rights
    {
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool refused;
    };

    constexpr Rights folderRights[] = {
        { 0, 0, 0755, false },       { 0, 0, 01777, false },      { 0, 4242, 01775, false },   { 0, 0, 0777, true },
        { 0, 4242, 0775, true },     { 0, 4242, 02775, true },    { 0, 4242, 0770, true },     { 65534, 65534, 0755, true },
    };

    const std::string top = "shared/plugins/";

    /** Names of the target folder that a run may take for its own leftovers:
        a staging or set-aside name holding a folder that is root's alone. */
    std::set<std::string> takeable (const FuzzSandbox::Tree& tree)
    {
        const std::string staging = "." + bundle + ".oh-staging-", aside = "." + bundle + ".oh-aside";
        std::set<std::string> names;

        for (auto& [path, record] : tree)
        {
            if (path.rfind (top, 0) != 0 || path.find ('/', top.size()) != std::string::npos)
                continue;

            const auto name = path.substr (top.size());
            const bool ourForm = (name.rfind (staging, 0) == 0 && name.size() == staging.size() + 6) || name == aside
                                  || (name.rfind (aside + "-", 0) == 0 && name.size() == aside.size() + 7);
            const auto mode = (mode_t) std::stoul (record, nullptr, 8);
            const bool rootsAlone = S_ISDIR (mode) && (mode & (S_IWGRP | S_IWOTH)) == 0 && record.find (" uid 0 ") != std::string::npos;

            if (ourForm && rootsAlone)
                names.insert (name);
        }

        return names;
    }

    /** The workspace but for the state folder, the bundle path, and the rest of it, when changes are allowed. */
    FuzzSandbox::Tree without (const FuzzSandbox::Tree& tree, bool anyChange, const std::set<std::string>& mayGo)
    {
        FuzzSandbox::Tree kept;

        for (auto& [path, record] : tree)
        {
            if (path.rfind ("state", 0) == 0)
                continue;

            const auto below = path.rfind (top, 0) == 0 ? path.substr (top.size()) : std::string();
            const auto first = below.substr (0, below.find ('/'));

            if (! anyChange || (below != bundle && below.rfind (bundle + "/", 0) != 0 && mayGo.count (first) == 0))
                kept[path] = record;
        }

        return kept;
    }

    FuzzSandbox::Tree bundleOnly (const FuzzSandbox::Tree& tree)
    {
        FuzzSandbox::Tree kept;
        const auto key = top + bundle;

        for (auto& [path, record] : tree)
            if (path == key || path.rfind (key + "/", 0) == 0)
                kept[path.substr (top.size())] = record;

        return kept;
    }

    void layOutOldBundle()
    {
        fs::create_directories (target + "/" + bundle + "/Contents/x86_64-win");
        const auto module = juce::File (juce::String (target + "/" + bundle + "/Contents/x86_64-win/Velquin.vst3"));
        FuzzSandbox::writeFile (module, "old", 3);
    }

    /** One fuzzed entry; one that cannot be made (a name taken twice) is skipped. */
    void makeEntry (int kind, const std::string& folder, const std::string& name)
    {
        const auto path = folder + "/" + name;

        switch (kind % 6)
        {
            case 0:  if (FILE* f = std::fopen (path.c_str(), "wx")) { std::fputs ("foreign", f); std::fclose (f); }
                     break;
            case 1:  if (mkdir (path.c_str(), 0755) == 0)
                         if (FILE* f = std::fopen ((path + "/inside").c_str(), "wx")) { std::fputs ("foreign", f); std::fclose (f); }
                     break;
            case 2:  symlink (canary.c_str(), path.c_str()); break;
            case 3:  symlink ("/", path.c_str()); break;
            case 4:  symlink ("nowhere/at/all", path.c_str()); break;
            default: mkfifo (path.c_str(), 0644); break;
        }
    }
}

extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv)
{
    workspace = FuzzSandbox::makeWorkspace ("disk");
    FuzzSandbox::removeAtExit (workspace);
    FuzzSandbox::confineWritesTo (workspace, *argc, *argv);

    const auto base = workspace.getFullPathName().toStdString();
    holder = base + "/shared";
    target = holder + "/plugins";
    canary = base + "/canary";
    state = base + "/state";

    fs::create_directories (canary + "/Velquin.vst3/Contents");
    FuzzSandbox::writeFile (juce::File (juce::String (canary + "/keep.txt")), "canary", 6);
    FuzzSandbox::writeFile (juce::File (juce::String (canary + "/Velquin.vst3/Contents/keep.bin")), "canary", 6);

    archive = ZipFixture()
                  .directory ("Velquin.vst3\\Contents")
                  .file ("Velquin.vst3\\Contents\\x86_64-win\\Velquin.vst3", ZipFixture::sampleContent (4000, 3))
                  .file ("Velquin.vst3\\desktop.ini", juce::String ("[.ShellClassInfo]\r\n"))
                  .build();

    // The fresh bundle as an install into an empty folder leaves it.
    fs::create_directories (target);

    if (! run (false))
        FuzzSandbox::fail ("the install into an empty folder failed");

    freshBundle = bundleOnly (FuzzSandbox::snapshot (workspace));
    FuzzSandbox::removeTree (juce::File (juce::String (target)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    if (size < 1)
        return 0;

    const auto& rights = folderRights[data[0] % 8];
    const bool groupHolder = (data[0] & 8) != 0;
    const bool refused = rights.refused || groupHolder;
    fs::create_directories (target);
    layOutOldBundle();
    chown (target.c_str(), rights.owner, rights.group);
    chmod (target.c_str(), rights.mode);
    chown (holder.c_str(), 0, groupHolder ? 4242 : 0);
    chmod (holder.c_str(), groupHolder ? 0775 : 0755);

    // At most 16 entries, each name at most 255 bytes.
    size_t pos = 1;

    for (int record = 0; record < 16 && pos + 2 <= size; ++record)
    {
        const int kind = data[pos];
        const size_t length = std::min<size_t> (data[pos + 1], size - pos - 2);
        std::string name;

        for (size_t i = 0; i < length; ++i)
            if (data[pos + 2 + i] != '/' && data[pos + 2 + i] != 0)
                name += (char) data[pos + 2 + i];

        pos += 2 + length;

        if (name.empty() || name == "." || name == "..")
            continue;

        makeEntry (kind, record % 2 == 0 ? target : target + "/" + bundle + "/Contents", name);
    }

    const auto before = FuzzSandbox::snapshot (workspace);
    const auto mayGo = takeable (before);

    if (run (false) == refused)
        FuzzSandbox::fail (refused ? "an install in a folder others may change was not refused" : "the install failed");

    auto after = FuzzSandbox::snapshot (workspace);

    if (! refused)
        FuzzSandbox::expectSameTree (freshBundle, bundleOnly (after), "the bundle path does not hold the fresh bundle");

    FuzzSandbox::expectSameTree (without (before, ! refused, mayGo), without (after, ! refused, mayGo), "the install changed what is not ours");

    if (run (true) == refused)
        FuzzSandbox::fail (refused ? "an uninstall in a folder others may change was not refused" : "the uninstall failed");

    after = FuzzSandbox::snapshot (workspace);

    if (! refused)
        FuzzSandbox::expectSameTree ({}, bundleOnly (after), "the uninstall left something at the bundle path");

    FuzzSandbox::expectSameTree (without (before, ! refused, mayGo), without (after, ! refused, mayGo), "the uninstall changed what is not ours");

    FuzzSandbox::removeTree (juce::File (juce::String (target)));
    return 0;
}
