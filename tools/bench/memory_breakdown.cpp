// memory-breakdown: what a running process's resident memory is made of, for the benchmarks.
//
//   memory-breakdown PID [--embedded FILE]... [--tsv | --list]
//
// Reads /proc/PID/smaps and puts each mapping in a region: malloc's main arena, the threads'
// arenas, other anonymous memory, the stacks, shared memory, the program file, Qt's libraries,
// the other libraries, the libraries' writable data, other files, the kernel's. Prints each
// region's resident size (Rss) and proportional share (Pss, pages shared with other processes
// divided among them), and the totals of /proc/PID/smaps_rollup beside their sum.
//
// --embedded FILE: a file whose bytes the program carries in its own data (a font compiled in as
// a resource). Its part of the program file that is resident is counted from /proc/PID/pagemap;
// copies of it in the heap are looked for in /proc/PID/mem, which needs the right to trace the
// process (the same user, and kernel.yama.ptrace_scope 0, or root); without it they are not
// counted and a note says so.
//
// --tsv: one region a line, "key Rss-KiB Pss-KiB count label", tab-separated, for
// tools/bench/run. --list: every mapping with its region, Rss and Pss, instead of the totals.
//
// The exit status is 1 when the process cannot be read, 2 on a usage error.

#include "bench/memory_map.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace piezon::bench;

namespace
{

bool readFile(const std::string& path, std::string* text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

std::int64_t rollupKb(const std::string& rollup, const char* key)
{
    const std::string k = std::string("\n") + key + ":";
    const std::size_t at = rollup.find(k);
    return at == std::string::npos ? -1 : std::atoll(rollup.c_str() + at + k.size());
}

// Resident pages in [address, address + bytes), from the kernel's page map: bit 63 of each
// page's entry says present (readable without privileges; only the frame numbers are hidden).
std::int64_t residentKb(int pagemap, std::uint64_t address, std::uint64_t bytes)
{
    if (pagemap < 0 || bytes == 0)
        return -1;
    const std::uint64_t page = std::uint64_t(sysconf(_SC_PAGESIZE));
    const std::uint64_t first = address / page, last = (address + bytes - 1) / page;
    std::vector<std::uint64_t> entries(last - first + 1);
    const ssize_t want = ssize_t(entries.size() * sizeof(std::uint64_t));
    if (pread(pagemap, entries.data(), std::size_t(want), off_t(first * sizeof(std::uint64_t))) !=
        want)
        return -1;
    std::int64_t present = 0;
    for (std::uint64_t e : entries)
        present += (e >> 63) & 1;
    return present * std::int64_t(page / 1024);
}

struct Embedded {
    std::string path;
    std::string name;
    std::string bytes;
    std::int64_t inProgramKb = -1; // resident part of its place in the program file
    int copies = 0;                // found in the heap
    std::int64_t copiesKb = 0;
};

void usage()
{
    std::fputs("usage: memory-breakdown PID [--embedded FILE]... [--tsv | --list]\n", stderr);
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2)
        usage();
    const std::string pid = argv[1];
    if (pid.find_first_not_of("0123456789") != std::string::npos)
        usage();
    std::vector<Embedded> embedded;
    bool tsv = false, list = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tsv") {
            tsv = true;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--embedded" && i + 1 < argc) {
            Embedded e;
            e.path = argv[++i];
            e.name = e.path.substr(e.path.find_last_of('/') + 1);
            if (!readFile(e.path, &e.bytes) || e.bytes.empty()) {
                std::fprintf(stderr, "memory-breakdown: cannot read %s\n", e.path.c_str());
                return 2;
            }
            embedded.push_back(std::move(e));
        } else {
            usage();
        }
    }

    const std::string proc = "/proc/" + pid;
    std::string smaps, rollup;
    if (!readFile(proc + "/smaps", &smaps) || smaps.empty() ||
        !readFile(proc + "/smaps_rollup", &rollup)) {
        std::fprintf(stderr, "memory-breakdown: cannot read %s/smaps: %s\n", proc.c_str(),
                     std::strerror(errno));
        return 1;
    }
    char exe[4096];
    const ssize_t n = readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
    std::string program = n > 0 ? std::string(exe, std::size_t(n)) : std::string();
    const std::string deleted = " (deleted)";
    if (program.size() > deleted.size() &&
        program.compare(program.size() - deleted.size(), deleted.size(), deleted) == 0)
        program.resize(program.size() - deleted.size());

    const std::vector<Mapping> maps = parseSmaps(smaps);
    const std::vector<Region> regions = classify(maps, program);
    const std::vector<RegionTotal> sum = totals(maps, regions);
    if (list) {
        for (std::size_t i = 0; i < maps.size(); ++i) {
            const Mapping& m = maps[i];
            std::printf("%-12s %12llx %s %8lld %8lld kB %s\n", regionKey(regions[i]),
                        (unsigned long long)m.start, m.perms.c_str(), (long long)m.rssKb,
                        (long long)m.pssKb, m.path.c_str());
        }
        return 0;
    }

    // The embedded files: where the program file holds them, and how much of that is resident;
    // then any copy of them in the heap.
    std::string programBytes;
    const int pagemap = open((proc + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
    if (!embedded.empty())
        readFile(proc + "/exe", &programBytes);
    for (Embedded& e : embedded) {
        const std::size_t at = programBytes.find(e.bytes);
        if (at == std::string::npos)
            continue;
        const std::uint64_t address = addressOfFileOffset(maps, program, at);
        if (address)
            e.inProgramKb = residentKb(pagemap, address, e.bytes.size());
    }
    std::string memNote;
    if (!embedded.empty()) {
        const int mem = open((proc + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
        if (mem < 0)
            memNote = std::string("copies in the heap not looked for: ") + std::strerror(errno);
        for (std::size_t i = 0; mem >= 0 && i < maps.size(); ++i) {
            const Region r = regions[i];
            const bool heap =
                r == Region::MainArena || r == Region::ThreadArenas || r == Region::OtherAnonymous;
            if (!heap || maps[i].perms[0] != 'r' || maps[i].rssKb == 0)
                continue;
            std::string buffer(maps[i].end - maps[i].start, '\0');
            const ssize_t got = pread(mem, buffer.data(), buffer.size(), off_t(maps[i].start));
            if (got <= 0) {
                memNote = std::string("copies in the heap not looked for: ") +
                          std::strerror(got < 0 ? errno : EIO);
                break;
            }
            buffer.resize(std::size_t(got));
            for (Embedded& e : embedded) {
                for (std::size_t at = buffer.find(e.bytes); at != std::string::npos;
                     at = buffer.find(e.bytes, at + e.bytes.size())) {
                    ++e.copies;
                    e.copiesKb += residentKb(pagemap, maps[i].start + at, e.bytes.size());
                }
            }
        }
        if (mem >= 0)
            close(mem);
    }
    if (pagemap >= 0)
        close(pagemap);

    std::int64_t rssKb = 0, pssKb = 0;
    for (const RegionTotal& t : sum) {
        rssKb += t.rssKb;
        pssKb += t.pssKb;
    }
    std::int64_t fontsKb = -1, copiesKb = 0;
    int copies = 0;
    for (const Embedded& e : embedded) {
        if (e.inProgramKb >= 0)
            fontsKb = (fontsKb < 0 ? 0 : fontsKb) + e.inProgramKb;
        copies += e.copies;
        copiesKb += e.copiesKb;
    }

    if (tsv) {
        std::printf("total\t%lld\t%lld\t0\tresident in all (smaps_rollup)\n",
                    (long long)rollupKb(rollup, "Rss"), (long long)rollupKb(rollup, "Pss"));
        for (int r = 0; r < kRegionCount; ++r) {
            const RegionTotal& t = sum[std::size_t(r)];
            std::printf("%s\t%lld\t%lld\t%d\t%s\n", regionKey(Region(r)), (long long)t.rssKb,
                        (long long)t.pssKb, t.count, regionLabel(Region(r)));
        }
        if (!embedded.empty()) {
            std::printf("embedded\t%lld\t%lld\t%zu\tof the program file, the embedded fonts\n",
                        (long long)fontsKb, (long long)fontsKb, embedded.size());
            if (memNote.empty())
                std::printf("copies\t%lld\t%lld\t%d\tof the heap, copies of the embedded fonts\n",
                            (long long)copiesKb, (long long)copiesKb, copies);
        }
        if (!memNote.empty())
            std::fprintf(stderr, "memory-breakdown: %s\n", memNote.c_str());
        return 0;
    }

    std::printf("process %s (%s): Rss %lld KiB, Pss %lld KiB, anonymous %lld KiB "
                "(smaps_rollup)\n",
                pid.c_str(), program.c_str(), (long long)rollupKb(rollup, "Rss"),
                (long long)rollupKb(rollup, "Pss"), (long long)rollupKb(rollup, "Anonymous"));
    std::printf("  %-56s %9s %9s\n", "region", "Rss KiB", "Pss KiB");
    for (int r = 0; r < kRegionCount; ++r) {
        const RegionTotal& t = sum[std::size_t(r)];
        std::string label = regionLabel(Region(r));
        if (Region(r) == Region::ThreadArenas)
            label += " (" + std::to_string(t.count) + " of 64 MiB reserved)";
        else if (Region(r) == Region::Stacks)
            label += " (" + std::to_string(t.count) + ")";
        std::printf("  %-56s %9lld %9lld\n", label.c_str(), (long long)t.rssKb, (long long)t.pssKb);
    }
    std::printf("  %-56s %9lld %9lld\n", "sum of the regions", (long long)rssKb, (long long)pssKb);
    for (const Embedded& e : embedded) {
        std::printf("  %s: %zu KiB; resident in the program file %lld KiB; %d cop%s in the "
                    "heap, %lld KiB resident\n",
                    e.name.c_str(), e.bytes.size() / 1024, (long long)e.inProgramKb, e.copies,
                    e.copies == 1 ? "y" : "ies", (long long)e.copiesKb);
    }
    if (!memNote.empty())
        std::printf("  (%s)\n", memNote.c_str());
    return 0;
}
