#include "bench/memory_map.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace piezon::bench
{
namespace
{

// glibc gives every arena but the main one heaps of this size, each at an address that is a
// multiple of it; what the arena does not use yet stays reserved, with no access.
constexpr std::uint64_t kArenaHeapBytes = std::uint64_t(64) << 20;
// A thread's stack has a guard page (or a few) with no access just below it.
constexpr std::uint64_t kLargestGuardBytes = std::uint64_t(64) << 10;

const char kDeleted[] = " (deleted)";

bool startsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

std::uint64_t hex(const std::string& s)
{
    return std::strtoull(s.c_str(), nullptr, 16);
}

// "7f67a1d0b000-7f67a21b2000 r-xp 0010b000 fe:00 14885177   /usr/lib/…/libQt6Gui.so.6.4.2"
bool parseHeader(const std::string& line, Mapping* m)
{
    const std::size_t dash = line.find('-');
    if (dash == std::string::npos || dash == 0)
        return false;
    for (std::size_t i = 0; i < dash; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(line[i])))
            return false;
    }
    std::istringstream in(line);
    std::string range, dev;
    std::string offset;
    if (!(in >> range >> m->perms >> offset >> dev >> m->inode))
        return false;
    if (m->perms.size() != 4)
        return false;
    m->start = hex(range.substr(0, dash));
    m->end = hex(range.substr(dash + 1));
    m->offset = hex(offset);
    // The path is the rest of the line; it may hold spaces of its own.
    std::string rest;
    std::getline(in, rest);
    const std::size_t first = rest.find_first_not_of(' ');
    m->path = first == std::string::npos ? std::string() : rest.substr(first);
    const std::size_t n = sizeof kDeleted - 1;
    if (m->path.size() > n && m->path.compare(m->path.size() - n, n, kDeleted) == 0)
        m->path.resize(m->path.size() - n);
    return true;
}

bool isLibrary(const std::string& path)
{
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const std::size_t so = name.find(".so");
    if (so == std::string::npos)
        return false;
    // "libfoo.so", "libfoo.so.6.4.2", never "foo.sort"
    for (std::size_t i = so + 3; i < name.size(); ++i) {
        if (name[i] != '.' && !std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

bool isSharedMemory(const Mapping& m)
{
    if (startsWith(m.path, "/SYSV") || startsWith(m.path, "/dev/shm/") ||
        startsWith(m.path, "/memfd:") || m.path == "[anon_shmem]")
        return true;
    return m.perms[3] == 's' && m.inode == 0 && m.path.empty();
}

bool noAccess(const Mapping& m)
{
    return m.perms.compare(0, 3, "---") == 0;
}

// The mappings from i on that make up one of a thread arena's heaps: an anonymous, writable
// start at a multiple of the heap size, then anonymous mappings back to back up to exactly the
// heap's end. Returns how many, or 0.
std::size_t arenaHeapAt(const std::vector<Mapping>& maps, std::size_t i)
{
    const Mapping& first = maps[i];
    if (!first.anonymous() || first.start % kArenaHeapBytes != 0 || first.perms[1] != 'w')
        return 0;
    const std::uint64_t end = first.start + kArenaHeapBytes;
    std::uint64_t reached = first.start;
    std::size_t j = i;
    while (j < maps.size() && maps[j].start == reached && maps[j].anonymous() &&
           maps[j].perms[3] == 'p' && maps[j].end <= end) {
        reached = maps[j].end;
        ++j;
        if (reached == end)
            return j - i;
    }
    return 0;
}

} // namespace

std::vector<Mapping> parseSmaps(const std::string& text)
{
    std::vector<Mapping> maps;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        Mapping m;
        if (parseHeader(line, &m)) {
            maps.push_back(m);
            continue;
        }
        if (maps.empty())
            continue;
        std::istringstream field(line);
        std::string key;
        std::int64_t kb = 0;
        if (!(field >> key >> kb))
            continue;
        if (key == "Rss:")
            maps.back().rssKb = kb;
        else if (key == "Pss:")
            maps.back().pssKb = kb;
    }
    std::sort(maps.begin(), maps.end(),
              [](const Mapping& a, const Mapping& b) { return a.start < b.start; });
    return maps;
}

const char* regionKey(Region region)
{
    switch (region) {
    case Region::MainArena:
        return "heap";
    case Region::ThreadArenas:
        return "arenas";
    case Region::OtherAnonymous:
        return "anonymous";
    case Region::Stacks:
        return "stacks";
    case Region::SharedMemory:
        return "shm";
    case Region::Program:
        return "program";
    case Region::QtLibraries:
        return "qt";
    case Region::OtherLibraries:
        return "libraries";
    case Region::LibraryData:
        return "library-data";
    case Region::OtherFiles:
        return "files";
    case Region::Kernel:
        return "kernel";
    }
    return "?";
}

const char* regionLabel(Region region)
{
    switch (region) {
    case Region::MainArena:
        return "heap: malloc's main arena ([heap])";
    case Region::ThreadArenas:
        return "heap: threads' malloc arenas";
    case Region::OtherAnonymous:
        return "heap: other anonymous (large blocks, libraries' own)";
    case Region::Stacks:
        return "stacks";
    case Region::SharedMemory:
        return "shared memory (X connection)";
    case Region::Program:
        return "the program file (code, data, resources)";
    case Region::QtLibraries:
        return "Qt's libraries (code, read-only data)";
    case Region::OtherLibraries:
        return "other libraries (code, read-only data)";
    case Region::LibraryData:
        return "libraries' writable data";
    case Region::OtherFiles:
        return "other files (font caches, translations, locale)";
    case Region::Kernel:
        return "kernel ([vdso], [vvar])";
    }
    return "?";
}

std::vector<Region> classify(const std::vector<Mapping>& maps, const std::string& program)
{
    std::vector<Region> regions(maps.size(), Region::OtherAnonymous);
    std::vector<bool> done(maps.size(), false);
    for (std::size_t i = 0; i < maps.size(); ++i) {
        if (done[i])
            continue;
        if (const std::size_t n = arenaHeapAt(maps, i)) {
            for (std::size_t j = i; j < i + n; ++j) {
                regions[j] = Region::ThreadArenas;
                done[j] = true;
            }
            continue;
        }
        const Mapping& m = maps[i];
        Region& r = regions[i];
        if (m.path == "[heap]" || startsWith(m.path, "[anon: glibc: malloc arena"))
            r = m.path == "[heap]" ? Region::MainArena : Region::ThreadArenas;
        else if (startsWith(m.path, "[stack") || startsWith(m.path, "[anon: glibc: pthread stack"))
            r = Region::Stacks;
        else if (isSharedMemory(m))
            r = Region::SharedMemory;
        else if (m.path == "[vdso]" || startsWith(m.path, "[vvar") || m.path == "[vsyscall]" ||
                 m.path == "[uprobes]")
            r = Region::Kernel;
        else if (m.anonymous()) {
            // A stack's guard, then the stack: glibc puts the guard below a thread's stack.
            const bool guarded = i > 0 && maps[i - 1].end == m.start && maps[i - 1].anonymous() &&
                                 noAccess(maps[i - 1]) &&
                                 maps[i - 1].end - maps[i - 1].start <= kLargestGuardBytes;
            if (guarded && m.perms[1] == 'w') {
                r = Region::Stacks;
                regions[i - 1] = Region::Stacks;
            } else {
                r = Region::OtherAnonymous;
            }
        } else if (!program.empty() && m.path == program)
            r = Region::Program;
        else if (isLibrary(m.path)) {
            const std::string name = m.path.substr(m.path.find_last_of('/') + 1);
            if (m.perms[1] == 'w')
                r = Region::LibraryData;
            else
                r = startsWith(name, "libQt6") ? Region::QtLibraries : Region::OtherLibraries;
        } else
            r = Region::OtherFiles;
    }
    return regions;
}

std::vector<RegionTotal> totals(const std::vector<Mapping>& maps,
                                const std::vector<Region>& regions)
{
    std::vector<RegionTotal> sum(kRegionCount);
    for (std::size_t i = 0; i < maps.size() && i < regions.size(); ++i) {
        RegionTotal& t = sum[std::size_t(regions[i])];
        t.rssKb += maps[i].rssKb;
        t.pssKb += maps[i].pssKb;
        // An arena's heap and a stack are one thing in two mappings (what is in use, what is
        // reserved or guarded): counted once.
        bool counted = true;
        if (regions[i] == Region::ThreadArenas)
            counted = maps[i].start % kArenaHeapBytes == 0;
        else if (regions[i] == Region::Stacks)
            counted = !noAccess(maps[i]);
        if (counted)
            ++t.count;
    }
    return sum;
}

std::uint64_t addressOfFileOffset(const std::vector<Mapping>& maps, const std::string& program,
                                  std::uint64_t fileOffset)
{
    for (const Mapping& m : maps) {
        if (m.path != program || m.inode == 0)
            continue;
        if (fileOffset >= m.offset && fileOffset < m.offset + (m.end - m.start))
            return m.start + (fileOffset - m.offset);
    }
    return 0;
}

} // namespace piezon::bench
