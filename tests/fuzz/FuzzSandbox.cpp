#include "FuzzSandbox.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace FuzzSandbox
{
void fail (const juce::String& message)
{
    std::fprintf (stderr, "\n*** fuzz invariant failed: %s\n", message.toRawUTF8());
    std::fflush (stderr);
    std::abort();
}

juce::File makeWorkspace (const char* name)
{
    const auto base = juce::File::getSpecialLocation (juce::File::tempDirectory);
    auto pattern = base.getChildFile (juce::String ("oh_fuzz_") + name + "_XXXXXX").getFullPathName().toStdString();

    if (mkdtemp (pattern.data()) == nullptr || chmod (pattern.c_str(), 0755) != 0)
        fail ("cannot make a workspace below " + base.getFullPathName());

    return juce::File (pattern);
}

namespace
{
    juce::File workspaceToRemove;
}

void removeAtExit (const juce::File& workspace)
{
    workspaceToRemove = workspace;
    std::atexit ([]
    {
        umount2 (workspaceToRemove.getFullPathName().toRawUTF8(), MNT_DETACH);   // when it was confined
        workspaceToRemove.deleteRecursively (false);
    });
}

namespace
{
    void makeWritable (const std::string& path)
    {
        if (mount (path.c_str(), path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            fail ("cannot bind " + juce::String (path));

        mount_attr attr {};
        attr.attr_clr = MOUNT_ATTR_RDONLY;

        if (mount_setattr (AT_FDCWD, path.c_str(), AT_RECURSIVE, &attr, sizeof (attr)) != 0)
            fail ("cannot make " + juce::String (path) + " writable");
    }
}

void confineWritesTo (const juce::File& workspace, int argc, char** argv)
{
    std::vector<std::string> writable { workspace.getFullPathName().toStdString() };

    // libFuzzer writes new inputs into the corpus folders and findings next to -artifact_prefix.
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg (argv[i]);

        if (arg.startsWith ("-artifact_prefix=") || arg.startsWith ("-exact_artifact_path="))
        {
            const auto prefix = juce::File::getCurrentWorkingDirectory().getChildFile (arg.fromFirstOccurrenceOf ("=", false, false));
            writable.push_back ((arg.endsWithChar ('/') ? prefix : prefix.getParentDirectory()).getFullPathName().toStdString());
        }
        else if (! arg.startsWithChar ('-') && juce::File::getCurrentWorkingDirectory().getChildFile (arg).isDirectory())
        {
            writable.push_back (juce::File::getCurrentWorkingDirectory().getChildFile (arg).getFullPathName().toStdString());
        }
    }

    if (unshare (CLONE_NEWNS) != 0)
        fail ("unshare (CLONE_NEWNS) failed: the fuzz targets run as root, in a read-only view of the machine");

    if (mount (nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail ("cannot make / private");

    mount_attr attr {};
    attr.attr_set = MOUNT_ATTR_RDONLY;

    if (mount_setattr (AT_FDCWD, "/", AT_RECURSIVE, &attr, sizeof (attr)) != 0)
        fail ("cannot make the machine read-only");

    for (auto& path : writable)
        makeWritable (path);

    // The workspace itself becomes a tmpfs of this namespace: the engine's
    // syncs cost nothing there, and nothing of it reaches the disk.
    if (mount ("tmpfs", writable.front().c_str(), "tmpfs", 0, "mode=0755,size=256m") != 0)
        fail ("cannot mount a tmpfs over " + workspace.getFullPathName());
}

void writeFile (const juce::File& f, const void* data, size_t size)
{
    // Not File::replaceWithData: it deletes the file for an empty input.
    const int fd = open (f.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;

    for (auto* p = static_cast<const char*> (data), * e = p + size; ok && p < e;)
    {
        const auto n = ::write (fd, p, (size_t) (e - p));
        ok = n > 0;
        p += ok ? n : 0;
    }

    if (fd < 0 || close (fd) != 0 || ! ok)
        fail ("cannot write " + f.getFullPathName());
}

Tree snapshot (const juce::File& root)
{
    Tree tree;
    const fs::path base (root.getFullPathName().toStdString());
    std::error_code error;

    for (fs::recursive_directory_iterator it (base, error), end; ! error && it != end; it.increment (error))
    {
        const auto path = it->path();
        struct stat info;

        if (lstat (path.c_str(), &info) != 0)
            continue;

        std::ostringstream record;
        record << std::oct << info.st_mode << std::dec << " uid " << info.st_uid << ' ';

        if (S_ISREG (info.st_mode))
        {
            std::ifstream in (path, std::ios::binary);
            record << in.rdbuf();
        }
        else if (S_ISLNK (info.st_mode))
        {
            record << "-> " << fs::read_symlink (path, error).string();
        }

        tree[path.lexically_relative (base).string()] = record.str();   // links not resolved
    }

    if (error)
        fail ("cannot list " + root.getFullPathName() + ": " + error.message());

    return tree;
}

namespace
{
    /** A path fit to print: names from the disk need not be text. */
    juce::String printable (const std::string& path)
    {
        juce::String out;

        for (unsigned char c : path)
            out << (c >= 0x20 && c < 0x7f ? juce::String::charToString ((juce::juce_wchar) c)
                                          : "\\x" + juce::String::toHexString ((int) c).paddedLeft ('0', 2));

        return out;
    }
}

void expectSameTree (const Tree& expected, const Tree& actual, const char* what)
{
    if (expected == actual)
        return;

    juce::String diff;

    for (auto& [path, record] : expected)
    {
        const auto it = actual.find (path);

        if (it == actual.end())
            diff << "\n  gone:    " << printable (path);
        else if (it->second != record)
            diff << "\n  changed: " << printable (path) << " (" << printable (record.substr (0, 24)) << " -> " << printable (it->second.substr (0, 24)) << ")";
    }

    for (auto& [path, record] : actual)
        if (expected.count (path) == 0)
            diff << "\n  new:     " << printable (path);

    fail (juce::String (what) + diff);
}

void removeTree (const juce::File& f)
{
    std::error_code error;
    fs::remove_all (fs::path (f.getFullPathName().toStdString()), error);   // removes links, never follows them

    if (error)
        fail ("cannot remove " + f.getFullPathName() + ": " + error.message());
}
}
