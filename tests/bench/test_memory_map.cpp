#include "bench/memory_map.h"

#include <QTest>

#include <string>
#include <vector>

using piezon::bench::addressOfFileOffset;
using piezon::bench::classify;
using piezon::bench::Mapping;
using piezon::bench::parseSmaps;
using piezon::bench::Region;
using piezon::bench::regionKey;
using piezon::bench::totals;

namespace
{

const std::string kProgram = "/tmp/app/piezon";

// One mapping as /proc/PID/smaps shows it, with the lines the kernel puts between the header
// and Rss/Pss and after them.
std::string mapping(const char* range, const char* perms, const char* offset, const char* inode,
                    const char* path, int rssKb = 4, int pssKb = 4)
{
    std::string s = std::string(range) + " " + perms + " " + offset + " fe:00 " + inode;
    if (*path)
        s += std::string(26 - std::string(inode).size(), ' ') + path;
    s += "\nSize:               8192 kB\nKernelPageSize:        4 kB\n";
    s += "Rss:            " + std::to_string(rssKb) + " kB\n";
    s += "Pss:            " + std::to_string(pssKb) + " kB\n";
    s += "Pss_Dirty:             0 kB\nVmFlags: rd wr mr mw me ac sd\n";
    return s;
}

std::string regionsOf(const std::string& smaps)
{
    const std::vector<Mapping> maps = parseSmaps(smaps);
    std::string keys;
    for (Region r : classify(maps, kProgram))
        keys += std::string(keys.empty() ? "" : ",") + regionKey(r);
    return keys;
}

} // namespace

class TestMemoryMap : public QObject
{
    Q_OBJECT

private slots:
    void header_data();
    void header();

    void sizesGoToTheirOwnMapping();

    void regions_data();
    void regions();

    void totalsCountArenasAndStacks();

    void fileOffset_data();
    void fileOffset();
};

void TestMemoryMap::header_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qulonglong>("start");
    QTest::addColumn<qulonglong>("end");
    QTest::addColumn<QString>("perms");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("anonymous");

    QTest::newRow("a library") << "7f67a1d0b000-7f67a21b2000 r-xp 0010b000 fe:00 14885177   "
                                  "                /usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2"
                               << 0x7f67a1d0b000ull << 0x7f67a21b2000ull << "r-xp"
                               << "/usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2" << false;
    // The operator's folder may have spaces (and Cyrillic) in its name.
    QTest::newRow("a path with spaces")
        << "562b4c28d000-562b4c367000 r--p 00043000 fe:00 10953297   /home/оператор/Мои "
           "программы/piezon"
        << 0x562b4c28d000ull << 0x562b4c367000ull << "r--p"
        << "/home/оператор/Мои программы/piezon" << false;
    // Replaced by a new build while running: still the program.
    QTest::newRow("a replaced file")
        << "562b4c25a000-562b4c28d000 r-xp 00010000 fe:00 10953297   /tmp/app/piezon (deleted)"
        << 0x562b4c25a000ull << 0x562b4c28d000ull << "r-xp"
        << "/tmp/app/piezon" << false;
    QTest::newRow("anonymous") << "7f679d6fe000-7f679d800000 rw-p 00000000 00:00 0 "
                               << 0x7f679d6fe000ull << 0x7f679d800000ull << "rw-p"
                               << "" << true;
    QTest::newRow("named by glibc")
        << "7f678c000000-7f678c021000 rw-p 00000000 00:00 0   [anon: glibc: malloc arena]"
        << 0x7f678c000000ull << 0x7f678c021000ull << "rw-p"
        << "[anon: glibc: malloc arena]" << true;
    QTest::newRow("the top of the address space")
        << "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]"
        << 0xffffffffff600000ull << 0xffffffffff601000ull << "--xp"
        << "[vsyscall]" << false;
}

void TestMemoryMap::header()
{
    QFETCH(QString, line);
    QFETCH(qulonglong, start);
    QFETCH(qulonglong, end);
    QFETCH(QString, perms);
    QFETCH(QString, path);
    QFETCH(bool, anonymous);

    const std::vector<Mapping> maps = parseSmaps(line.toStdString() + "\nRss: 12 kB\n");
    QCOMPARE(maps.size(), std::size_t(1));
    QCOMPARE(qulonglong(maps[0].start), start);
    QCOMPARE(qulonglong(maps[0].end), end);
    QCOMPARE(QString::fromStdString(maps[0].perms), perms);
    QCOMPARE(QString::fromStdString(maps[0].path), path);
    QCOMPARE(maps[0].anonymous(), anonymous);
    QCOMPARE(maps[0].rssKb, std::int64_t(12));
}

void TestMemoryMap::sizesGoToTheirOwnMapping()
{
    // Listed out of address order, as a merged file could be: each keeps its own figures.
    const std::string smaps =
        mapping("7f0000200000-7f0000400000", "rw-p", "00000000", "0", "", 900, 900) +
        mapping("7f0000000000-7f0000100000", "r--p", "00000000", "42", "/usr/lib/libz.so.1", 96,
                32);
    const std::vector<Mapping> maps = parseSmaps(smaps);
    QCOMPARE(maps.size(), std::size_t(2));
    QCOMPARE(maps[0].path, std::string("/usr/lib/libz.so.1"));
    QCOMPARE(maps[0].rssKb, std::int64_t(96));
    QCOMPARE(maps[0].pssKb, std::int64_t(32));
    QCOMPARE(maps[1].rssKb, std::int64_t(900));
    QCOMPARE(maps[1].pssKb, std::int64_t(900));
}

void TestMemoryMap::regions_data()
{
    QTest::addColumn<QString>("smaps");
    QTest::addColumn<QString>("regions");

    QTest::newRow("the main arena")
        << QString::fromStdString(
               mapping("562b4e6ab000-562b4ed4c000", "rw-p", "00000000", "0", "[heap]"))
        << "heap";
    // 132 KiB in use, the rest of its 64 MiB reserved.
    QTest::newRow("a thread's arena")
        << QString::fromStdString(
               mapping("7f678c000000-7f678c021000", "rw-p", "00000000", "0", "") +
               mapping("7f678c021000-7f6790000000", "---p", "00000000", "0", "", 0, 0))
        << "arenas,arenas";
    QTest::newRow("an arena all in use")
        << QString::fromStdString(mapping("7f6790000000-7f6794000000", "rw-p", "00000000", "0", ""))
        << "arenas";
    // A large block of malloc's, mapped on its own: not at an arena's boundary.
    QTest::newRow("a large block")
        << QString::fromStdString(mapping("7f679d6fe000-7f679d800000", "rw-p", "00000000", "0", ""))
        << "anonymous";
    // At a boundary, but with something else in the arena's room.
    QTest::newRow("at a boundary, not an arena")
        << QString::fromStdString(
               mapping("7f6798000000-7f6798021000", "rw-p", "00000000", "0", "") +
               mapping("7f6798021000-7f6799000000", "---p", "00000000", "0", "", 0, 0) +
               mapping("7f6799000000-7f679c000000", "r--p", "00000000", "77",
                       "/usr/lib/locale/locale-archive"))
        << "anonymous,anonymous,files";
    QTest::newRow("a thread's stack behind its guard")
        << QString::fromStdString(
               mapping("7f6796ffe000-7f6796fff000", "---p", "00000000", "0", "", 0, 0) +
               mapping("7f6796fff000-7f67977ff000", "rw-p", "00000000", "0", "", 12, 12))
        << "stacks,stacks";
    // A no-access page that does not touch the next mapping guards nothing.
    QTest::newRow("a gap after the no-access page")
        << QString::fromStdString(
               mapping("7f6796ffe000-7f6796fff000", "---p", "00000000", "0", "", 0, 0) +
               mapping("7f6797000000-7f6797800000", "rw-p", "00000000", "0", ""))
        << "anonymous,anonymous";
    QTest::newRow("the main thread's stack")
        << QString::fromStdString(
               mapping("7ffd3cf0d000-7ffd3cf2e000", "rw-p", "00000000", "0", "[stack]"))
        << "stacks";
    QTest::newRow("named by glibc")
        << QString::fromStdString(mapping("7f5a00000000-7f5a00021000", "rw-p", "00000000", "0",
                                          "[anon: glibc: malloc arena]") +
                                  mapping("7f5a10000000-7f5a10800000", "rw-p", "00000000", "0",
                                          "[anon: glibc: pthread stack: 0x7f5a107ff6c0]"))
        << "arenas,stacks";
    QTest::newRow("pictures shared with the X server")
        << QString::fromStdString(mapping("7f6000000000-7f6000100000", "rw-s", "00000000", "65538",
                                          "/SYSV00000000 (deleted)") +
                                  mapping("7f6000200000-7f6000300000", "rw-s", "00000000", "1025",
                                          "/memfd:xcb-shm (deleted)"))
        << "shm,shm";
    // Shared, but a file: the font configuration's cache is no shared memory.
    QTest::newRow("a cache file mapped shared")
        << QString::fromStdString(
               mapping("7f610d222000-7f610d22f000", "r--s", "00000000", "12369925",
                       "/var/cache/fontconfig/d589a48862398ed80a3d6066f4f56f4c-le64.cache-8"))
        << "files";
    QTest::newRow("the program") << QString::fromStdString(
                                        mapping("562b4c24a000-562b4c25a000", "r--p", "00000000",
                                                "10953297", "/tmp/app/piezon") +
                                        mapping("562b4c25a000-562b4c28d000", "r-xp", "00010000",
                                                "10953297", "/tmp/app/piezon (deleted)"))
                                 << "program,program";
    // Another copy of it, in another folder, is not this process's program.
    QTest::newRow("the same name elsewhere")
        << QString::fromStdString(mapping("562b4c24a000-562b4c25a000", "r--p", "00000000", "999",
                                          "/opt/piezon/piezon"))
        << "files";
    QTest::newRow("Qt's libraries")
        << QString::fromStdString(
               mapping("7f67a1d0b000-7f67a21b2000", "r-xp", "0010b000", "14885177",
                       "/usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2") +
               mapping("7f67a21b2000-7f67a22f1000", "r--p", "005b2000", "14885177",
                       "/usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2") +
               mapping("7f67a22f1000-7f67a2309000", "rw-p", "006f0000", "14885177",
                       "/usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2"))
        << "qt,qt,library-data";
    QTest::newRow("other libraries")
        << QString::fromStdString(mapping("7f67a1444000-7f67a159a000", "r-xp", "00026000", "332835",
                                          "/usr/lib/x86_64-linux-gnu/libc.so.6") +
                                  mapping("7f67a2cb7000-7f67a2cdd000", "r-xp", "00001000", "332383",
                                          "/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2") +
                                  mapping("7f67a2cdd000-7f67a2cde000", "r--p", "00000000", "332384",
                                          "/usr/lib/x86_64-linux-gnu/libxcb.so"))
        << "libraries,libraries,libraries";
    // ".so" inside a name does not make a library.
    QTest::newRow("data files") << QString::fromStdString(
                                       mapping("7f679dfa8000-7f679dfda000", "r--p", "00000000",
                                               "1065932",
                                               "/usr/share/qt6/translations/qtbase_ru.qm") +
                                       mapping("7f679dfdb000-7f679dfdc000", "r--p", "00000000",
                                               "1065933", "/usr/share/doc/libc.so.notes"))
                                << "files,files";
    QTest::newRow("the kernel's")
        << QString::fromStdString(
               mapping("7f67a2cae000-7f67a2cb2000", "r--p", "00000000", "0", "[vvar]", 0, 0) +
               mapping("7f67a2cb4000-7f67a2cb6000", "r-xp", "00000000", "0", "[vdso]"))
        << "kernel,kernel";
}

void TestMemoryMap::regions()
{
    QFETCH(QString, smaps);
    QFETCH(QString, regions);
    QCOMPARE(QString::fromStdString(regionsOf(smaps.toStdString())), regions);
}

void TestMemoryMap::totalsCountArenasAndStacks()
{
    const std::string smaps =
        mapping("562b4e6ab000-562b4ed4c000", "rw-p", "00000000", "0", "[heap]", 6596, 6596) +
        mapping("7f678c000000-7f678c021000", "rw-p", "00000000", "0", "", 24, 24) +
        mapping("7f678c021000-7f6790000000", "---p", "00000000", "0", "", 0, 0) +
        mapping("7f6790000000-7f6790021000", "rw-p", "00000000", "0", "", 40, 40) +
        mapping("7f6790021000-7f6794000000", "---p", "00000000", "0", "", 0, 0) +
        mapping("7f6796ffe000-7f6796fff000", "---p", "00000000", "0", "", 0, 0) +
        mapping("7f6796fff000-7f67977ff000", "rw-p", "00000000", "0", "", 12, 12) +
        mapping("7f67977ff000-7f6797800000", "---p", "00000000", "0", "", 0, 0) +
        mapping("7f6797800000-7f6798000000", "rw-p", "00000000", "0", "", 8, 8) +
        mapping("7f67a1c00000-7f67a1d0b000", "r--p", "00000000", "14885177",
                "/usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2", 1068, 534) +
        mapping("7ffd3cf0d000-7ffd3cf2e000", "rw-p", "00000000", "0", "[stack]", 92, 92);
    const std::vector<Mapping> maps = parseSmaps(smaps);
    const auto sum = totals(maps, classify(maps, kProgram));
    const auto& arenas = sum[std::size_t(Region::ThreadArenas)];
    QCOMPARE(arenas.count, 2);
    QCOMPARE(arenas.rssKb, std::int64_t(64));
    const auto& stacks = sum[std::size_t(Region::Stacks)];
    QCOMPARE(stacks.count, 3); // two threads' and the main thread's; the guards are no stacks
    QCOMPARE(stacks.rssKb, std::int64_t(112));
    QCOMPARE(sum[std::size_t(Region::MainArena)].rssKb, std::int64_t(6596));
    QCOMPARE(sum[std::size_t(Region::QtLibraries)].pssKb, std::int64_t(534));
    std::int64_t all = 0;
    for (const auto& t : sum)
        all += t.rssKb;
    QCOMPARE(all, std::int64_t(6596 + 24 + 40 + 12 + 8 + 1068 + 92));
}

void TestMemoryMap::fileOffset_data()
{
    QTest::addColumn<qulonglong>("offset");
    QTest::addColumn<qulonglong>("address");

    // Where the resources of the program are: in its third mapping, which begins 0x43000 into
    // the file.
    QTest::newRow("in read-only data") << 0x43180ull << 0x562b4c28d180ull;
    QTest::newRow("the first byte of a mapping") << 0x10000ull << 0x562b4c25a000ull;
    QTest::newRow("the last byte of a mapping") << 0x42fffull << 0x562b4c28cfffull;
    QTest::newRow("the first byte of the file") << 0x0ull << 0x562b4c24a000ull;
    // Not loaded (section headers, symbols): nowhere.
    QTest::newRow("past every mapping") << 0x200000ull << 0x0ull;
}

void TestMemoryMap::fileOffset()
{
    QFETCH(qulonglong, offset);
    QFETCH(qulonglong, address);
    const std::string smaps =
        mapping("562b4c24a000-562b4c25a000", "r--p", "00000000", "10953297", "/tmp/app/piezon") +
        mapping("562b4c25a000-562b4c28d000", "r-xp", "00010000", "10953297", "/tmp/app/piezon") +
        mapping("562b4c28d000-562b4c367000", "r--p", "00043000", "10953297", "/tmp/app/piezon") +
        // Another file mapped from the same offsets must not answer for the program.
        mapping("7f67a1c00000-7f67a1e00000", "r--p", "00100000", "14885177",
                "/usr/lib/x86_64-linux-gnu/libQt6Gui.so.6.4.2");
    QCOMPARE(qulonglong(addressOfFileOffset(parseSmaps(smaps), kProgram, offset)), address);
}

QTEST_APPLESS_MAIN(TestMemoryMap)
#include "test_memory_map.moc"
