#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

/** What a disk may hold after a power cut: a tree of folders and files as of
    the last mount, and a journal of every change made since, each marked when
    a sync made it durable. From it come the trees a cut may leave.

    The rules, as a filesystem gives them to a program that relies on fsync:
    - a file's data and attributes are durable once the file is synced;
    - a folder's entries (names and what they name) are durable once the
      folder is synced; a new file or folder is reachable after a cut only
      through a synced entry, and holds then only what was synced of its own;
    - a rename, or an exchange, is one step: a cut leaves it whole or not at
      all, never a name in both folders; it is durable once either folder is
      synced, and it takes every earlier change of both folders with it;
    - what is not durable may still be on the disk, in part. Two families:
      journaled (ext4, XFS, btrfs, NTFS): changes of names and folders are
      kept in the order they came, up to some point, while each file's data
      keeps a prefix of its own writes, whatever became of its name;
      unordered (ext2, FAT, and all POSIX promises): every object (a file's
      data, a folder's entries) keeps a prefix of its own changes, and a
      change that touches several objects is kept only with all of them.
    A sync makes durable every earlier change that a durable change depends
    on, over any chain of shared objects. */
namespace Durable
{
using Ino = std::uint64_t;
constexpr Ino rootIno = 1;

struct Node
{
    bool isFolder = false;
    std::uint32_t mode = 0644;   ///< permission bits
    std::uint32_t uid = 0, gid = 0;
    timespec atime {}, mtime {};
    std::string content;                  ///< a file's bytes
    std::map<std::string, Ino> entries;   ///< a folder's names
};

/** Every node by number; the root is rootIno. Nodes no name reaches may be
    there too: they are not part of what the disk shows. */
struct Tree
{
    std::map<Ino, Node> nodes;

    /** The reachable tree in one text, numbers included, times left out: equal texts, equal disks. */
    std::string canonical() const;

    /** Writes the reachable tree below path (a folder that must not exist), with
        modes, owners and times, and each node's number in path + ".inodes". */
    bool writeTo (const std::string& path, std::string& error) const;

    /** Reads the folder at path and all below it; files and folders only. The
        numbers come from path + ".inodes" where writeTo left one, as a disk
        keeps them across a cut; the rest are given in order. */
    static bool readFrom (const std::string& path, Tree& tree, std::string& error);
};

/** One change made to the live tree. */
struct Change
{
    enum class Kind { link, unlink, rename, exchange, write, truncate, attributes };

    Kind kind = Kind::link;
    Ino folder = 0;             ///< link, unlink: the folder; rename, exchange: the source folder
    std::string name;
    Ino toFolder = 0;           ///< rename, exchange: the destination folder
    std::string toName;
    Ino node = 0;               ///< link: the node named; write, truncate, attributes: the node changed
    std::uint64_t offset = 0;   ///< write: where; truncate: the new size
    std::string data;           ///< write: the bytes
    Node attributes;            ///< attributes: the node's mode, owner and times after the change
    std::vector<std::uint64_t> objects;   ///< what it touches, see Journal::dataOf and Journal::entriesOf
};

/** Which changes one possible disk keeps, and what to call it. */
struct Outcome
{
    std::string model;
    std::vector<bool> kept;
};

class Journal
{
public:
    explicit Journal (Tree mounted) : base (std::move (mounted)) {}

    static std::uint64_t dataOf (Ino node)      { return node * 2; }
    static std::uint64_t entriesOf (Ino folder) { return folder * 2 + 1; }

    /** A node made since the mount, with its first attributes: it exists from
        the start on the disk too, reachable only through a kept link. */
    void created (Ino ino, const Node& node)    { createdNodes[ino] = node; }

    void record (Change change);

    /** A file's fsync, or a folder's (its entries too). */
    void sync (Ino node, bool isFolder);

    size_t size() const noexcept                { return changes.size(); }
    const std::vector<bool>& durable() const    { return forced; }

    /** The disks a cut now may leave: only what was synced; everything;
        unordered with every rename lost; and seeds many random ones,
        journaled and unordered in turn. */
    std::vector<Outcome> outcomes (unsigned seeds, std::uint64_t seed) const;

    /** The disk that keeps just these changes. False, with why, when the
        choice breaks an order it should have kept (a fault of the model). */
    bool replay (const std::vector<bool>& kept, Tree& tree, std::string& error) const;

private:
    Tree base;
    std::map<Ino, Node> createdNodes;
    std::vector<Change> changes;
    std::vector<bool> forced;
};
} // namespace Durable
