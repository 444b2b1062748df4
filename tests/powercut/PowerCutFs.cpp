// oh_powercut_fs: a filesystem in memory that forgets what was never synced.
//
//   oh_powercut_fs --image FOLDER [--out FOLDER] [--cut WHEN] [--seeds N] [--seed N]
//                  [--trace FILE] [--no-rename-flags] [--ready-fd FD] MOUNTPOINT
//
// Mounts the tree read from --image at MOUNTPOINT, all of it durable, and keeps
// every change after that in memory with a journal (see Durable.h). At the cut
// the power goes: every disk the cut may leave is written below --out as a
// folder of its own (equal disks once, N.key beside folder N holds its text
// for comparing), index.txt says which models gave each, and every request
// from then on fails; the filesystem unmounts itself.
//
// WHEN: sync:N (as the N-th fsync or fsyncdir arrives, before it takes effect),
// sync:N:after (once it has), change:N (as the N-th change arrives), or end
// (when unmounted). --trace writes one line per sync and change, numbered as
// WHEN counts them. --no-rename-flags refuses renames with flags, as
// filesystems without RENAME_NOREPLACE and RENAME_EXCHANGE do.

#define FUSE_USE_VERSION 34

#include "Durable.h"

#include <fuse_lowlevel.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <linux/fs.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace
{
using Durable::Change;
using Durable::Ino;
using Durable::Journal;
using Durable::Node;

struct Options
{
    std::string image, out, cut, trace, mountPoint;
    unsigned seeds = 4;
    std::uint64_t seed = 1;
    bool noRenameFlags = false;
    int readyFd = -1;
};

struct Fs
{
    Options options;
    Durable::Tree live;
    std::unique_ptr<Journal> journal;
    Ino nextIno = Durable::rootIno + 1;
    std::map<Ino, std::pair<Ino, std::string>> where;   // each node's folder and name, for the trace
    unsigned syncs = 0, changes = 0;
    std::map<std::uint64_t, std::vector<std::pair<std::string, Ino>>> listings;   // by open folder: its names, read at the start
    std::uint64_t lastListing = 0;
    bool powerIsOff = false;
    int exitCode = 0;
    fuse_session* session = nullptr;
    FILE* trace = nullptr;

    //==============================================================================
    std::string pathOf (Ino ino) const
    {
        std::string path;

        for (int depth = 0; ino != Durable::rootIno && depth < 64; ++depth)
        {
            const auto found = where.find (ino);

            if (found == where.end())
                return "(unnamed)" + path;

            path = "/" + found->second.second + path;
            ino = found->second.first;
        }

        return path.empty() ? "/" : path;
    }

    std::string pathOf (Ino folderIno, const std::string& name) const
    {
        return (folderIno == Durable::rootIno ? std::string() : pathOf (folderIno)) + "/" + name;
    }

    Node* folder (Ino ino)
    {
        const auto found = live.nodes.find (ino);
        return found != live.nodes.end() && found->second.isFolder ? &found->second : nullptr;
    }

    Node* node (Ino ino)
    {
        const auto found = live.nodes.find (ino);
        return found != live.nodes.end() ? &found->second : nullptr;
    }

    static timespec now()
    {
        timespec t {};
        clock_gettime (CLOCK_REALTIME, &t);
        return t;
    }

    //==============================================================================
    /** Every disk this moment may leave, written out; then no more requests. */
    void cutThePower()
    {
        powerIsOff = true;
        fuse_session_exit (session);

        if (options.out.empty())
            return;

        if (mkdir (options.out.c_str(), 0700) != 0 && errno != EEXIST)
        {
            std::fprintf (stderr, "oh_powercut_fs: cannot make %s: %s\n", options.out.c_str(), std::strerror (errno));
            exitCode = 3;
            return;
        }

        std::vector<std::pair<std::string, std::string>> disks;   // canonical text, models
        std::string index;

        for (const auto& outcome : journal->outcomes (options.seeds, options.seed))
        {
            Durable::Tree tree;
            std::string error;

            if (! journal->replay (outcome.kept, tree, error))
            {
                std::fprintf (stderr, "oh_powercut_fs: %s: %s\n", outcome.model.c_str(), error.c_str());
                index += "ERROR\t" + outcome.model + ": " + error + "\n";
                exitCode = 3;
                continue;
            }

            const auto text = tree.canonical();
            size_t i = 0;

            while (i < disks.size() && disks[i].first != text)
                ++i;

            if (i < disks.size())
            {
                disks[i].second += "; " + outcome.model;
                continue;
            }

            disks.emplace_back (text, outcome.model);
            std::ofstream (options.out + "/" + std::to_string (i) + ".key") << text;

            if (! tree.writeTo (options.out + "/" + std::to_string (i), error))
            {
                std::fprintf (stderr, "oh_powercut_fs: %s\n", error.c_str());
                exitCode = 3;
            }
        }

        for (size_t i = 0; i < disks.size(); ++i)
            index += std::to_string (i) + "\t" + disks[i].second + "\n";

        std::ofstream (options.out + "/index.txt") << index;
    }

    void note (const char* what, unsigned number, const std::string& text)
    {
        if (trace != nullptr)
        {
            std::fprintf (trace, "%s %u %s\n", what, number, text.c_str());
            std::fflush (trace);
        }
    }

    /** Before a change is made: false when the power goes now. */
    bool beforeChange (const std::string& description)
    {
        ++changes;

        if (options.cut == "change:" + std::to_string (changes))
        {
            cutThePower();
            return false;
        }

        note ("change", changes, description);
        return true;
    }

    /** An fsync or fsyncdir: false when the power went before it could answer. */
    bool sync (Ino ino, bool isFolder)
    {
        ++syncs;
        note ("sync", syncs, (isFolder ? "fsyncdir " : "fsync ") + pathOf (ino));

        if (options.cut == "sync:" + std::to_string (syncs))
        {
            cutThePower();
            return false;
        }

        journal->sync (ino, isFolder);

        if (options.cut == "sync:" + std::to_string (syncs) + ":after")
        {
            cutThePower();
            return false;
        }

        return true;
    }

    void record (Change::Kind kind, Ino folderIno, const std::string& name, Ino nodeIno, std::vector<std::uint64_t> objects)
    {
        Change c;
        c.kind = kind;
        c.folder = folderIno;
        c.name = name;
        c.node = nodeIno;
        c.objects = std::move (objects);
        journal->record (std::move (c));
    }

    Ino make (fuse_req_t req, Ino parent, const std::string& name, bool isFolder, mode_t mode)
    {
        const auto* context = fuse_req_ctx (req);
        Node made;
        made.isFolder = isFolder;
        made.mode = mode & 07777;
        made.uid = context->uid;
        made.gid = context->gid;
        made.atime = made.mtime = now();

        const auto ino = nextIno++;
        live.nodes[ino] = made;
        journal->created (ino, made);
        live.nodes[parent].entries[name] = ino;
        where[ino] = { parent, name };
        record (Change::Kind::link, parent, name, ino, { Journal::entriesOf (parent) });
        return ino;
    }

    struct stat statOf (Ino ino)
    {
        const auto& n = live.nodes.at (ino);
        struct stat st {};
        st.st_ino = ino;
        st.st_mode = (n.isFolder ? S_IFDIR : S_IFREG) | n.mode;
        st.st_nlink = 1;

        if (n.isFolder)
        {
            st.st_nlink = 2;

            for (const auto& entry : n.entries)
                st.st_nlink += live.nodes.at (entry.second).isFolder ? 1 : 0;
        }

        st.st_uid = n.uid;
        st.st_gid = n.gid;
        st.st_size = n.isFolder ? 4096 : (off_t) n.content.size();
        st.st_blksize = 4096;
        st.st_blocks = (st.st_size + 511) / 512;
        st.st_atim = n.atime;
        st.st_mtim = n.mtime;
        st.st_ctim = n.mtime;
        return st;
    }

    void replyEntry (fuse_req_t req, Ino ino)
    {
        // No caching of names or attributes: every look goes through here.
        fuse_entry_param e {};
        e.ino = ino;
        e.attr = statOf (ino);
        fuse_reply_entry (req, &e);
    }
};

Fs& fsOf (fuse_req_t req)   { return *static_cast<Fs*> (fuse_req_userdata (req)); }

/** Once the power is off, every request fails. */
bool off (fuse_req_t req)
{
    if (! fsOf (req).powerIsOff)
        return false;

    fuse_reply_err (req, EIO);
    return true;
}

//==============================================================================
void fsInit (void*, fuse_conn_info* conn)
{
    // Every write reaches us as it is made: the kernel keeps nothing back.
    conn->want &= ~(unsigned) FUSE_CAP_WRITEBACK_CACHE;
}

void fsLookup (fuse_req_t req, fuse_ino_t parent, const char* name)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* f = fs.folder (parent);

    if (f == nullptr)
        return (void) fuse_reply_err (req, ENOTDIR);

    const auto found = f->entries.find (name);

    if (found == f->entries.end())
        return (void) fuse_reply_err (req, ENOENT);

    fs.replyEntry (req, found->second);
}

void fsForget (fuse_req_t req, fuse_ino_t, uint64_t)
{
    fuse_reply_none (req);
}

void fsGetattr (fuse_req_t req, fuse_ino_t ino, fuse_file_info*)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);

    if (fs.node (ino) == nullptr)
        return (void) fuse_reply_err (req, ENOENT);

    const auto st = fs.statOf (ino);
    fuse_reply_attr (req, &st, 0);
}

void fsSetattr (fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, fuse_file_info*)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* n = fs.node (ino);

    if (n == nullptr)
        return (void) fuse_reply_err (req, ENOENT);

    if ((toSet & FUSE_SET_ATTR_SIZE) != 0 && n->isFolder)
        return (void) fuse_reply_err (req, EISDIR);

    auto changed = *n;

    if (toSet & FUSE_SET_ATTR_MODE)       changed.mode = attr->st_mode & 07777;
    if (toSet & FUSE_SET_ATTR_UID)        changed.uid = attr->st_uid;
    if (toSet & FUSE_SET_ATTR_GID)        changed.gid = attr->st_gid;
    if (toSet & FUSE_SET_ATTR_ATIME)      changed.atime = attr->st_atim;
    if (toSet & FUSE_SET_ATTR_MTIME)      changed.mtime = attr->st_mtim;
    if (toSet & FUSE_SET_ATTR_ATIME_NOW)  changed.atime = Fs::now();
    if (toSet & FUSE_SET_ATTR_MTIME_NOW)  changed.mtime = Fs::now();

    if (! fs.beforeChange ("setattr " + fs.pathOf (ino)))
        return (void) fuse_reply_err (req, EIO);

    if (toSet & FUSE_SET_ATTR_SIZE)
    {
        n->content.resize ((size_t) attr->st_size);
        Change c;
        c.kind = Change::Kind::truncate;
        c.node = ino;
        c.offset = (std::uint64_t) attr->st_size;
        c.objects = { Journal::dataOf (ino) };
        fs.journal->record (std::move (c));
    }

    n->mode = changed.mode;
    n->uid = changed.uid;
    n->gid = changed.gid;
    n->atime = changed.atime;
    n->mtime = changed.mtime;

    Change c;
    c.kind = Change::Kind::attributes;
    c.node = ino;
    c.attributes = changed;
    c.attributes.content.clear();
    c.attributes.entries.clear();
    c.objects = { Journal::dataOf (ino) };
    fs.journal->record (std::move (c));

    const auto st = fs.statOf (ino);
    fuse_reply_attr (req, &st, 0);
}

void fsMkdir (fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* f = fs.folder (parent);

    if (f == nullptr)
        return (void) fuse_reply_err (req, ENOTDIR);

    if (f->entries.count (name) != 0)
        return (void) fuse_reply_err (req, EEXIST);

    if (! fs.beforeChange ("mkdir " + fs.pathOf (parent, name)))
        return (void) fuse_reply_err (req, EIO);

    fs.replyEntry (req, fs.make (req, parent, name, true, mode));
}

void fsCreate (fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, fuse_file_info* fi)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* f = fs.folder (parent);

    if (f == nullptr)
        return (void) fuse_reply_err (req, ENOTDIR);

    if (f->entries.count (name) != 0)
        return (void) fuse_reply_err (req, EEXIST);   // the kernel asks only where it saw no name

    if (! fs.beforeChange ("create " + fs.pathOf (parent, name)))
        return (void) fuse_reply_err (req, EIO);

    const auto ino = fs.make (req, parent, name, false, mode);
    fuse_entry_param e {};
    e.ino = ino;
    e.attr = fs.statOf (ino);
    fi->fh = 0;
    fuse_reply_create (req, &e, fi);
}

void fsUnlinkOrRmdir (fuse_req_t req, fuse_ino_t parent, const char* name, bool folder)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* f = fs.folder (parent);

    if (f == nullptr)
        return (void) fuse_reply_err (req, ENOTDIR);

    const auto found = f->entries.find (name);

    if (found == f->entries.end())
        return (void) fuse_reply_err (req, ENOENT);

    const auto ino = found->second;
    const auto& n = fs.live.nodes.at (ino);

    if (n.isFolder != folder)
        return (void) fuse_reply_err (req, folder ? ENOTDIR : EISDIR);

    if (folder && ! n.entries.empty())
        return (void) fuse_reply_err (req, ENOTEMPTY);

    if (! fs.beforeChange ((folder ? "rmdir " : "unlink ") + fs.pathOf (ino)))
        return (void) fuse_reply_err (req, EIO);

    f->entries.erase (found);
    fs.where.erase (ino);

    // A folder goes only after what it held: the removal depends on its entries' history.
    std::vector<std::uint64_t> objects { Journal::entriesOf (parent) };

    if (folder)
        objects.push_back (Journal::entriesOf (ino));

    fs.record (Change::Kind::unlink, parent, name, ino, objects);
    fuse_reply_err (req, 0);
}

void fsUnlink (fuse_req_t req, fuse_ino_t parent, const char* name)   { fsUnlinkOrRmdir (req, parent, name, false); }
void fsRmdir (fuse_req_t req, fuse_ino_t parent, const char* name)    { fsUnlinkOrRmdir (req, parent, name, true); }

void fsRename (fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName, unsigned flags)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);

    if (flags != 0 && fs.options.noRenameFlags)
        return (void) fuse_reply_err (req, ENOSYS);   // the kernel then says EINVAL, and asks no more

    if ((flags & ~(unsigned) (RENAME_NOREPLACE | RENAME_EXCHANGE)) != 0
         || ((flags & RENAME_NOREPLACE) != 0 && (flags & RENAME_EXCHANGE) != 0))
        return (void) fuse_reply_err (req, EINVAL);

    auto* from = fs.folder (parent);
    auto* to = fs.folder (newParent);

    if (from == nullptr || to == nullptr)
        return (void) fuse_reply_err (req, ENOTDIR);

    const auto source = from->entries.find (name);

    if (source == from->entries.end())
        return (void) fuse_reply_err (req, ENOENT);

    const auto moved = source->second;
    const auto target = to->entries.find (newName);
    const bool exists = target != to->entries.end();
    const bool exchange = (flags & RENAME_EXCHANGE) != 0;
    std::vector<std::uint64_t> objects { Journal::entriesOf (parent), Journal::entriesOf (newParent) };

    if (exchange && ! exists)
        return (void) fuse_reply_err (req, ENOENT);

    if (! exchange && exists)
    {
        if ((flags & RENAME_NOREPLACE) != 0)
            return (void) fuse_reply_err (req, EEXIST);

        const auto replaced = target->second;

        if (replaced == moved)
            return (void) fuse_reply_err (req, 0);

        const auto& r = fs.live.nodes.at (replaced);
        const bool movedIsFolder = fs.live.nodes.at (moved).isFolder;

        if (r.isFolder != movedIsFolder)
            return (void) fuse_reply_err (req, r.isFolder ? EISDIR : ENOTDIR);

        if (r.isFolder && ! r.entries.empty())
            return (void) fuse_reply_err (req, ENOTEMPTY);

        if (r.isFolder)
            objects.push_back (Journal::entriesOf (replaced));
    }

    if (! fs.beforeChange ((exchange ? "exchange " : "rename ") + fs.pathOf (moved) + " " + fs.pathOf (newParent, newName)))
        return (void) fuse_reply_err (req, EIO);

    if (exchange)
    {
        const auto other = target->second;
        source->second = other;
        target->second = moved;
        fs.where[other] = { parent, name };
    }
    else
    {
        if (exists)
            fs.where.erase (target->second);

        from->entries.erase (source);
        to->entries[newName] = moved;
    }

    fs.where[moved] = { newParent, newName };

    Change c;
    c.kind = exchange ? Change::Kind::exchange : Change::Kind::rename;
    c.folder = parent;
    c.name = name;
    c.toFolder = newParent;
    c.toName = newName;
    c.objects = std::move (objects);
    fs.journal->record (std::move (c));
    fuse_reply_err (req, 0);
}

void fsOpen (fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    if (off (req))
        return;

    auto* n = fsOf (req).node (ino);

    if (n == nullptr)
        return (void) fuse_reply_err (req, ENOENT);

    if (n->isFolder)
        return (void) fuse_reply_err (req, EISDIR);

    fi->fh = 0;
    fuse_reply_open (req, fi);
}

void fsRead (fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info*)
{
    if (off (req))
        return;

    auto* n = fsOf (req).node (ino);

    if (n == nullptr)
        return (void) fuse_reply_err (req, ENOENT);

    if ((size_t) offset >= n->content.size())
        return (void) fuse_reply_buf (req, nullptr, 0);

    fuse_reply_buf (req, n->content.data() + offset, std::min (size, n->content.size() - (size_t) offset));
}

void fsWrite (fuse_req_t req, fuse_ino_t ino, const char* buffer, size_t size, off_t offset, fuse_file_info*)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* n = fs.node (ino);

    if (n == nullptr || n->isFolder)
        return (void) fuse_reply_err (req, n == nullptr ? ENOENT : EISDIR);

    if (! fs.beforeChange ("write " + fs.pathOf (ino) + " " + std::to_string (size) + " bytes at " + std::to_string (offset)))
        return (void) fuse_reply_err (req, EIO);

    if (n->content.size() < (size_t) offset + size)
        n->content.resize ((size_t) offset + size);

    std::memcpy (n->content.data() + offset, buffer, size);

    Change c;
    c.kind = Change::Kind::write;
    c.node = ino;
    c.offset = (std::uint64_t) offset;
    c.data.assign (buffer, size);
    c.objects = { Journal::dataOf (ino) };
    fs.journal->record (std::move (c));
    fuse_reply_write (req, size);
}

void fsFlushOrRelease (fuse_req_t req, fuse_ino_t, fuse_file_info*)
{
    fuse_reply_err (req, 0);
}

void fsFsync (fuse_req_t req, fuse_ino_t ino, int, fuse_file_info*)
{
    if (off (req))
        return;

    fuse_reply_err (req, fsOf (req).sync (ino, false) ? 0 : EIO);
}

void fsFsyncdir (fuse_req_t req, fuse_ino_t ino, int, fuse_file_info*)
{
    if (off (req))
        return;

    fuse_reply_err (req, fsOf (req).sync (ino, true) ? 0 : EIO);
}

void fsOpendir (fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);

    if (fs.folder (ino) == nullptr)
        return (void) fuse_reply_err (req, ENOTDIR);

    fi->fh = ++fs.lastListing;
    fs.listings[fi->fh];
    fuse_reply_open (req, fi);
}

void fsReaddir (fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi)
{
    if (off (req))
        return;

    auto& fs = fsOf (req);
    auto* f = fs.folder (ino);
    auto& listing = fs.listings[fi->fh];

    if (f == nullptr)
        return (void) fuse_reply_err (req, ENOENT);

    // A listing from the start (rewinddir too) sees the folder as it is now.
    if (offset == 0)
    {
        listing.clear();
        listing.emplace_back (".", ino);
        const auto up = fs.where.find (ino);
        listing.emplace_back ("..", up != fs.where.end() ? up->second.first : ino);

        for (const auto& entry : f->entries)
            listing.emplace_back (entry.first, entry.second);
    }

    std::vector<char> buffer (size);
    size_t used = 0;

    for (auto i = (size_t) offset; i < listing.size(); ++i)
    {
        struct stat st {};
        st.st_ino = listing[i].second;
        const auto* entryNode = fs.node (listing[i].second);
        st.st_mode = entryNode != nullptr && entryNode->isFolder ? S_IFDIR : S_IFREG;
        const auto length = fuse_add_direntry (req, buffer.data() + used, size - used, listing[i].first.c_str(), &st, (off_t) i + 1);

        if (length > size - used)
            break;

        used += length;
    }

    fuse_reply_buf (req, buffer.data(), used);
}

void fsReleasedir (fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    fsOf (req).listings.erase (fi->fh);
    fuse_reply_err (req, 0);
}

void fsStatfs (fuse_req_t req, fuse_ino_t)
{
    struct statvfs s {};
    s.f_bsize = s.f_frsize = 4096;
    s.f_blocks = 1u << 20;
    s.f_bfree = s.f_bavail = 1u << 19;
    s.f_files = 1u << 16;
    s.f_ffree = s.f_favail = 1u << 15;
    s.f_namemax = 255;
    fuse_reply_statfs (req, &s);
}

//==============================================================================
bool parse (int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg (argv[i]);
        const auto value = [&] { return i + 1 < argc ? std::string (argv[++i]) : std::string(); };

        if (arg == "--image")                o.image = value();
        else if (arg == "--out")             o.out = value();
        else if (arg == "--cut")             o.cut = value();
        else if (arg == "--trace")           o.trace = value();
        else if (arg == "--seeds")           o.seeds = (unsigned) std::stoul (value());
        else if (arg == "--seed")            o.seed = std::stoull (value());
        else if (arg == "--ready-fd")        o.readyFd = std::stoi (value());
        else if (arg == "--no-rename-flags") o.noRenameFlags = true;
        else if (o.mountPoint.empty() && arg.rfind ("--", 0) != 0) o.mountPoint = arg;
        else return false;
    }

    return ! o.image.empty() && ! o.mountPoint.empty() && (o.cut.empty() || ! o.out.empty());
}
} // namespace

int main (int argc, char** argv)
{
    Fs fs;

    if (! parse (argc, argv, fs.options))
    {
        std::fprintf (stderr, "usage: oh_powercut_fs --image FOLDER [--out FOLDER --cut sync:N|sync:N:after|change:N|end]"
                              " [--seeds N] [--seed N] [--trace FILE] [--no-rename-flags] [--ready-fd FD] MOUNTPOINT\n");
        return 2;
    }

    std::string error;

    if (! Durable::Tree::readFrom (fs.options.image, fs.live, error))
    {
        std::fprintf (stderr, "oh_powercut_fs: %s\n", error.c_str());
        return 2;
    }

    fs.journal = std::make_unique<Journal> (fs.live);
    fs.nextIno = fs.live.nodes.rbegin()->first + 1;

    for (const auto& [ino, n] : fs.live.nodes)
        for (const auto& [name, child] : n.entries)
            fs.where[child] = { ino, name };

    if (! fs.options.trace.empty() && (fs.trace = std::fopen (fs.options.trace.c_str(), "w")) == nullptr)
    {
        std::fprintf (stderr, "oh_powercut_fs: cannot write %s\n", fs.options.trace.c_str());
        return 2;
    }

    fuse_lowlevel_ops ops {};
    ops.init = fsInit;
    ops.lookup = fsLookup;
    ops.forget = fsForget;
    ops.getattr = fsGetattr;
    ops.setattr = fsSetattr;
    ops.mkdir = fsMkdir;
    ops.unlink = fsUnlink;
    ops.rmdir = fsRmdir;
    ops.rename = fsRename;
    ops.open = fsOpen;
    ops.read = fsRead;
    ops.write = fsWrite;
    ops.flush = fsFlushOrRelease;
    ops.release = fsFlushOrRelease;
    ops.fsync = fsFsync;
    ops.opendir = fsOpendir;
    ops.readdir = fsReaddir;
    ops.releasedir = fsReleasedir;
    ops.fsyncdir = fsFsyncdir;
    ops.statfs = fsStatfs;
    ops.create = fsCreate;

    char arg0[] = "oh_powercut_fs", dashO[] = "-o", mountOptions[] = "fsname=oh_powercut,subtype=oh_powercut";
    char* fuseArgv[] = { arg0, dashO, mountOptions, nullptr };
    fuse_args args = FUSE_ARGS_INIT (3, fuseArgv);

    fs.session = fuse_session_new (&args, &ops, sizeof (ops), &fs);
    fuse_opt_free_args (&args);

    if (fs.session == nullptr || fuse_set_signal_handlers (fs.session) != 0
         || fuse_session_mount (fs.session, fs.options.mountPoint.c_str()) != 0)
    {
        std::fprintf (stderr, "oh_powercut_fs: cannot mount at %s\n", fs.options.mountPoint.c_str());
        return 2;
    }

    if (fs.options.readyFd >= 0)
    {
        [[maybe_unused]] const auto n = write (fs.options.readyFd, "mounted\n", 8);
        close (fs.options.readyFd);
    }

    fuse_session_loop (fs.session);

    if (fs.options.cut == "end" && ! fs.powerIsOff)
        fs.cutThePower();

    fuse_session_unmount (fs.session);
    fuse_remove_signal_handlers (fs.session);
    fuse_session_destroy (fs.session);

    if (fs.trace != nullptr)
        std::fclose (fs.trace);

    return fs.exitCode;
}
