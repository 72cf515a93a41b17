#pragma once

// What a process's resident memory is made of, read from the kernel's /proc/PID/smaps: each
// mapping put in one of a few regions, so that a figure of resident size can be told apart into
// the heap, the stacks, the program, its libraries and the rest. Pure functions of the text
// given, for memory-breakdown and its tests.

#include <cstdint>
#include <string>
#include <vector>

namespace piezon::bench
{

struct Mapping {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::string perms;        // "rw-p", "r-xp", "---p", "r--s" …
    std::uint64_t offset = 0; // in the file, for a file's mapping
    std::uint64_t inode = 0;
    std::string path; // empty for anonymous memory; " (deleted)" taken off
    std::int64_t rssKb = 0;
    std::int64_t pssKb = 0;

    bool anonymous() const { return inode == 0 && (path.empty() || path.rfind("[anon:", 0) == 0); }
};

// Every mapping of an smaps text, in address order. Lines that are not a mapping's header, its
// Rss or its Pss are passed over.
std::vector<Mapping> parseSmaps(const std::string& text);

enum class Region {
    MainArena,      // [heap]: malloc's main arena
    ThreadArenas,   // malloc's arenas for other threads, 64 MiB reserved each
    OtherAnonymous, // malloc's large blocks (mmap'd on their own) and the libraries' own
    Stacks,         // the main thread's and the other threads' (behind their guard page)
    SharedMemory,   // memory shared with another process (the X server's MIT-SHM pictures)
    Program,        // the executable's code and data, its embedded resources among them
    QtLibraries,    // libQt6*: code and read-only data
    OtherLibraries, // every other shared library: code and read-only data
    LibraryData,    // the libraries' writable data, copied on write: Qt's and the others'
    OtherFiles,     // files mapped for reading: font caches, translations, locale
    Kernel,         // [vdso], [vvar]
};
constexpr int kRegionCount = int(Region::Kernel) + 1;

// A short, stable name (for a bench's table) and what it holds, in words.
const char* regionKey(Region region);
const char* regionLabel(Region region);

// The region of each mapping (same order). program is the executable's path, as smaps shows it.
std::vector<Region> classify(const std::vector<Mapping>& maps, const std::string& program);

struct RegionTotal {
    std::int64_t rssKb = 0;
    std::int64_t pssKb = 0;
    int count = 0; // arenas for ThreadArenas, stacks for Stacks, mappings otherwise
};
std::vector<RegionTotal> totals(const std::vector<Mapping>& maps,
                                const std::vector<Region>& regions);

// The address at which the program's file offset is mapped, or 0 when no mapping of it holds
// that offset (a part of the file that is not loaded).
std::uint64_t addressOfFileOffset(const std::vector<Mapping>& maps, const std::string& program,
                                  std::uint64_t fileOffset);

} // namespace piezon::bench
