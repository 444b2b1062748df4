#include "Durable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace Durable
{
namespace
{
    std::string systemError (const std::string& what, const std::string& path)
    {
        return what + " " + path + ": " + std::strerror (errno);
    }

    bool setOwnerModeAndTimes (int fd, const Node& node, const std::string& path, std::string& error)
    {
        const timespec times[2] = { node.atime, node.mtime };

        if (fchown (fd, node.uid, node.gid) != 0 || fchmod (fd, node.mode) != 0 || futimens (fd, times) != 0)
        {
            error = systemError ("cannot set the attributes of", path);
            return false;
        }

        return true;
    }

    bool writeNode (const Tree& tree, Ino ino, const std::string& path, std::set<Ino>& written, std::string& error)
    {
        const auto found = tree.nodes.find (ino);

        if (found == tree.nodes.end() || ! written.insert (ino).second)
        {
            error = "node " + std::to_string (ino) + " is missing or named twice, at " + path;
            return false;
        }

        const auto& node = found->second;

        if (! node.isFolder)
        {
            const int fd = open (path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);

            if (fd < 0)
            {
                error = systemError ("cannot create", path);
                return false;
            }

            const bool ok = (node.content.empty() || write (fd, node.content.data(), node.content.size()) == (ssize_t) node.content.size())
                             && setOwnerModeAndTimes (fd, node, path, error);
            close (fd);

            if (! ok && error.empty())
                error = systemError ("cannot write", path);

            return ok;
        }

        if (mkdir (path.c_str(), 0700) != 0)
        {
            error = systemError ("cannot make", path);
            return false;
        }

        for (const auto& [name, child] : node.entries)
            if (! writeNode (tree, child, path + "/" + name, written, error))
                return false;

        // Last: the entries written above changed the folder's times.
        const int fd = open (path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);

        if (fd < 0)
        {
            error = systemError ("cannot open", path);
            return false;
        }

        const bool ok = setOwnerModeAndTimes (fd, node, path, error);
        close (fd);
        return ok;
    }

    /** Each node's number by its path below the root, as writeTo kept them. */
    using Numbers = std::map<std::string, Ino>;

    std::string numbersFileOf (const std::string& path)   { return path + ".inodes"; }

    bool readNode (const std::string& path, const std::string& below, const Numbers& numbers, Tree& tree, Ino ino, Ino& nextIno,
                   std::string& error)
    {
        struct stat info;

        if (lstat (path.c_str(), &info) != 0)
        {
            error = systemError ("cannot look at", path);
            return false;
        }

        auto& node = tree.nodes[ino];
        node.isFolder = S_ISDIR (info.st_mode);
        node.mode = info.st_mode & 07777;
        node.uid = info.st_uid;
        node.gid = info.st_gid;
        node.atime = info.st_atim;
        node.mtime = info.st_mtim;

        if (S_ISREG (info.st_mode))
        {
            const int fd = open (path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);

            if (fd < 0)
            {
                error = systemError ("cannot open", path);
                return false;
            }

            char buffer[65536];

            for (ssize_t n; (n = read (fd, buffer, sizeof (buffer))) > 0;)
                node.content.append (buffer, (size_t) n);

            close (fd);
            return true;
        }

        if (! node.isFolder)
        {
            error = path + " is neither a file nor a folder";
            return false;
        }

        auto* dir = opendir (path.c_str());

        if (dir == nullptr)
        {
            error = systemError ("cannot list", path);
            return false;
        }

        std::vector<std::string> names;

        while (auto* entry = readdir (dir))
            if (std::strcmp (entry->d_name, ".") != 0 && std::strcmp (entry->d_name, "..") != 0)
                names.emplace_back (entry->d_name);

        closedir (dir);
        std::sort (names.begin(), names.end());

        for (const auto& name : names)
        {
            const auto known = numbers.find (below + "/" + name);
            const auto child = known != numbers.end() ? known->second : nextIno++;
            tree.nodes[ino].entries[name] = child;

            if (! readNode (path + "/" + name, below + "/" + name, numbers, tree, child, nextIno, error))
                return false;
        }

        return true;
    }
} // namespace

//==============================================================================
std::string Tree::canonical() const
{
    std::string text;
    std::set<Ino> seen;

    const std::function<void (Ino, const std::string&)> add = [&] (Ino ino, const std::string& path)
    {
        const auto found = nodes.find (ino);

        if (found == nodes.end() || ! seen.insert (ino).second)
        {
            text += path + "\t(missing or named twice)\n";
            return;
        }

        const auto& node = found->second;
        text += path + (node.isFolder ? "\tfolder\t" : "\tfile\t") + std::to_string (ino) + "\t" + std::to_string (node.mode) + "\t"
                + std::to_string (node.uid) + ":" + std::to_string (node.gid);

        if (! node.isFolder)
            text += "\t" + std::to_string (node.content.size()) + "\t" + std::to_string (std::hash<std::string>() (node.content));

        text += "\n";

        for (const auto& [name, child] : node.entries)
            add (child, path + "/" + name);
    };

    add (rootIno, "");
    return text;
}

bool Tree::writeTo (const std::string& path, std::string& error) const
{
    std::set<Ino> written;

    if (! writeNode (*this, rootIno, path, written, error))
        return false;

    // A disk keeps its nodes' numbers across a power cut and a new mount.
    std::string numbers;

    const std::function<void (Ino, const std::string&)> add = [&] (Ino ino, const std::string& below)
    {
        for (const auto& [name, child] : nodes.at (ino).entries)
        {
            numbers += std::to_string (child) + "\t" + below + "/" + name + "\n";
            add (child, below + "/" + name);
        }
    };

    add (rootIno, "");
    std::ofstream out (numbersFileOf (path));
    out << numbers;

    if (! out.flush())
    {
        error = systemError ("cannot write", numbersFileOf (path));
        return false;
    }

    return true;
}

bool Tree::readFrom (const std::string& path, Tree& tree, std::string& error)
{
    tree.nodes.clear();
    Numbers numbers;
    Ino nextIno = rootIno + 1;
    std::ifstream in (numbersFileOf (path));

    for (std::string line; std::getline (in, line);)
    {
        const auto tab = line.find ('\t');
        const auto ino = (Ino) std::stoull (line.substr (0, tab));
        numbers[line.substr (tab + 1)] = ino;
        nextIno = std::max (nextIno, ino + 1);
    }

    if (! readNode (path, "", numbers, tree, rootIno, nextIno, error))
        return false;

    if (! tree.nodes[rootIno].isFolder)
    {
        error = path + " is no folder";
        return false;
    }

    return true;
}

//==============================================================================
void Journal::record (Change change)
{
    changes.push_back (std::move (change));
    forced.push_back (false);
}

void Journal::sync (Ino node, bool isFolder)
{
    // Backwards: a change is made durable when it shares an object with one
    // that is, so every change a durable one builds on comes with it.
    std::set<std::uint64_t> objects { dataOf (node) };

    if (isFolder)
        objects.insert (entriesOf (node));

    for (size_t i = changes.size(); i-- > 0;)
    {
        const auto& touched = changes[i].objects;
        const bool shares = std::any_of (touched.begin(), touched.end(), [&] (auto o) { return objects.count (o) != 0; });

        if (shares || forced[i])
        {
            forced[i] = true;
            objects.insert (touched.begin(), touched.end());
        }
    }
}

std::vector<Outcome> Journal::outcomes (unsigned seeds, std::uint64_t seed) const
{
    const auto n = changes.size();
    std::vector<Outcome> result;

    result.push_back ({ "only what was synced", forced });
    result.push_back ({ "everything", std::vector<bool> (n, true) });

    const auto isData = [this] (size_t i)
    {
        const auto kind = changes[i].kind;
        return kind == Change::Kind::write || kind == Change::Kind::truncate || kind == Change::Kind::attributes;
    };

    // Unordered, the worst for a program that moves something away and then
    // empties it: every rename not yet durable lost, all else kept.
    {
        std::set<std::uint64_t> broken;
        auto kept = forced;

        for (size_t i = 0; i < n; ++i)
        {
            const auto& touched = changes[i].objects;
            const bool renamed = changes[i].kind == Change::Kind::rename || changes[i].kind == Change::Kind::exchange;

            if (forced[i])
                continue;

            if (! renamed && std::none_of (touched.begin(), touched.end(), [&] (auto o) { return broken.count (o) != 0; }))
                kept[i] = true;
            else
                broken.insert (touched.begin(), touched.end());
        }

        result.push_back ({ "unordered, every rename lost", kept });
    }

    for (unsigned s = 0; s < seeds; ++s)
    {
        const auto subsetSeed = seed * 1000 + s;
        std::mt19937_64 random (subsetSeed);
        const double keepChance = 0.2 + 0.7 * std::uniform_real_distribution<double>() (random);
        const auto keep = [&] { return std::uniform_real_distribution<double>() (random) < keepChance; };
        const bool journaled = s % 2 == 0;

        // Once a change of an object is lost, so is every later one that touches it.
        std::set<std::uint64_t> broken;
        auto kept = forced;

        // Journaled: names and folders as a journal commits them, in the
        // order they came up to a point past the last durable one.
        size_t namesUpTo = 0;

        if (journaled)
        {
            for (size_t i = 0; i < n; ++i)
                if (forced[i] && ! isData (i))
                    namesUpTo = i + 1;

            namesUpTo += (size_t) (random() % (n - namesUpTo + 1));
        }

        for (size_t i = 0; i < n; ++i)
        {
            if (forced[i])
                continue;

            if (journaled && ! isData (i))
            {
                kept[i] = i < namesUpTo;
                continue;
            }

            const auto& touched = changes[i].objects;
            const bool blocked = std::any_of (touched.begin(), touched.end(), [&] (auto o) { return broken.count (o) != 0; });

            if (! blocked && keep())
                kept[i] = true;
            else
                broken.insert (touched.begin(), touched.end());
        }

        result.push_back ({ (journaled ? "journaled, seed " : "unordered, seed ") + std::to_string (subsetSeed), kept });
    }

    return result;
}

bool Journal::replay (const std::vector<bool>& kept, Tree& tree, std::string& error) const
{
    tree = base;

    for (const auto& [ino, node] : createdNodes)
        tree.nodes.emplace (ino, node);

    const auto folder = [&tree] (Ino ino) -> Node*
    {
        const auto found = tree.nodes.find (ino);
        return found != tree.nodes.end() && found->second.isFolder ? &found->second : nullptr;
    };

    for (size_t i = 0; i < changes.size(); ++i)
    {
        if (! kept[i])
            continue;

        const auto& c = changes[i];
        const auto fail = [&] (const std::string& why) { error = "change " + std::to_string (i) + ": " + why; return false; };

        switch (c.kind)
        {
            case Change::Kind::link:
            {
                auto* f = folder (c.folder);

                if (f == nullptr || f->entries.count (c.name) != 0)
                    return fail ("cannot link " + c.name);

                f->entries[c.name] = c.node;
                break;
            }

            case Change::Kind::unlink:
            {
                auto* f = folder (c.folder);

                if (f == nullptr || f->entries.erase (c.name) != 1)
                    return fail ("cannot unlink " + c.name);

                break;
            }

            case Change::Kind::rename:
            case Change::Kind::exchange:
            {
                auto* from = folder (c.folder);
                auto* to = folder (c.toFolder);

                if (from == nullptr || to == nullptr || from->entries.count (c.name) == 0
                     || (c.kind == Change::Kind::exchange && to->entries.count (c.toName) == 0))
                    return fail ("cannot rename " + c.name + " to " + c.toName);

                const auto moved = from->entries[c.name];

                if (c.kind == Change::Kind::exchange)
                {
                    from->entries[c.name] = to->entries[c.toName];
                }
                else
                {
                    from->entries.erase (c.name);
                }

                to->entries[c.toName] = moved;
                break;
            }

            case Change::Kind::write:
            case Change::Kind::truncate:
            case Change::Kind::attributes:
            {
                const auto found = tree.nodes.find (c.node);

                if (found == tree.nodes.end())
                    return fail ("no node " + std::to_string (c.node));

                auto& node = found->second;

                if (c.kind == Change::Kind::write)
                {
                    if (node.content.size() < c.offset + c.data.size())
                        node.content.resize (c.offset + c.data.size());

                    std::copy (c.data.begin(), c.data.end(), node.content.begin() + (std::ptrdiff_t) c.offset);
                }
                else if (c.kind == Change::Kind::truncate)
                {
                    node.content.resize (c.offset);
                }
                else
                {
                    node.mode = c.attributes.mode;
                    node.uid = c.attributes.uid;
                    node.gid = c.attributes.gid;
                    node.atime = c.attributes.atime;
                    node.mtime = c.attributes.mtime;
                }

                break;
            }
        }
    }

    return true;
}
} // namespace Durable
