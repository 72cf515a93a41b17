// The fonts the program carries: drawn from its own data, whatever the system has installed of
// the same family, and never copied into the heap (each copy is about 400 KiB that every running
// program holds for good).

#include "bench/memory_map.h"
#include "dial/program_fonts.h"

#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QResource>
#include <QTest>

#include <algorithm>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using piezon::bench::classify;
using piezon::bench::Mapping;
using piezon::bench::parseSmaps;
using piezon::bench::Region;

namespace
{

const char* const kEmbedded[] = {":/piezon/fonts/LiberationSans-Regular.ttf",
                                 ":/piezon/fonts/LiberationSans-Bold.ttf"};

// Lays out and draws a caption in the font, so that its face is opened as the window's would be.
void draw(const QFont& font)
{
    QImage image(240, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Погрешность 2.73 СТОП"));
}

QByteArray procSelf(const char* name)
{
    QFile file(QStringLiteral("/proc/self/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How often the bytes occur in this process's heap and other anonymous memory. Read through
// /proc/self/mem into a buffer mapped after the list was taken, so that neither the buffer nor
// memory freed meanwhile is searched.
int copiesInHeap(std::string_view bytes)
{
    const std::vector<Mapping> maps = parseSmaps(procSelf("smaps").toStdString());
    const std::vector<Region> regions = classify(maps, std::string());
    std::size_t largest = 0;
    for (const Mapping& m : maps)
        largest = std::max<std::size_t>(largest, m.end - m.start);
    // The sanitizers reserve terabytes of shadow: no heap of ours comes near this.
    const std::size_t limit = std::size_t(256) << 20;
    largest = std::min(largest, limit);
    void* buffer =
        mmap(nullptr, largest, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const int mem = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    int found = -1;
    if (buffer != MAP_FAILED && mem >= 0) {
        found = 0;
        for (std::size_t i = 0; i < maps.size(); ++i) {
            const Mapping& m = maps[i];
            const bool heap = regions[i] == Region::MainArena ||
                              regions[i] == Region::ThreadArenas ||
                              regions[i] == Region::OtherAnonymous;
            if (!heap || m.perms[0] != 'r' || m.rssKb == 0 || m.end - m.start > limit)
                continue;
            // Only the pages in memory: a copy is, since it was written; the rest would be read
            // as zeros, slowly (the sanitizers' allocator reserves much more than it uses).
            const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
            std::vector<unsigned char> resident((m.end - m.start) / page);
            if (mincore(reinterpret_cast<void*>(m.start), m.end - m.start, resident.data()) != 0)
                continue;
            for (std::size_t first = 0; first < resident.size();) {
                if (!(resident[first] & 1)) {
                    ++first;
                    continue;
                }
                std::size_t last = first;
                while (last < resident.size() && (resident[last] & 1))
                    ++last;
                const ssize_t got =
                    pread(mem, buffer, (last - first) * page, off_t(m.start + first * page));
                first = last;
                if (got <= 0)
                    continue;
                const std::string_view read(static_cast<const char*>(buffer), std::size_t(got));
                for (std::size_t at = read.find(bytes); at != std::string_view::npos;
                     at = read.find(bytes, at + 1))
                    ++found;
            }
        }
    }
    if (mem >= 0)
        close(mem);
    if (buffer != MAP_FAILED)
        munmap(buffer, largest);
    return found;
}

} // namespace

class TestProgramFonts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void asAsked_data();
    void asAsked();

    void storedAsTheyAre_data();
    void storedAsTheyAre();
    void notCopied_data();
    void notCopied();
    void noSystemFace();
};

void TestProgramFonts::initTestCase()
{
    // Every face the window uses, opened before anything is looked for.
    for (const QFont& font : {piezon::windowFont(), piezon::boldFont(), piezon::readingFont()})
        draw(font);
}

void TestProgramFonts::asAsked_data()
{
    QTest::addColumn<QFont>("font");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("bold");

    QTest::newRow("the window's") << piezon::windowFont() << 11 << false;
    QTest::newRow("buttons and COM") << piezon::boldFont() << 11 << true;
    QTest::newRow("the reading") << piezon::readingFont() << 24 << true;
}

void TestProgramFonts::asAsked()
{
    QFETCH(QFont, font);
    QFETCH(int, pixels);
    QFETCH(bool, bold);
    const QFontInfo info(font);
    QCOMPARE(info.family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(info.pixelSize(), pixels);
    QCOMPARE(info.bold(), bold);
}

void TestProgramFonts::storedAsTheyAre_data()
{
    QTest::addColumn<QString>("path");
    for (const char* path : kEmbedded)
        QTest::newRow(path) << QString::fromLatin1(path);
}

// Compressed, a font would have to be unpacked into the heap before the font database could use
// it: the copy this program no longer makes.
void TestProgramFonts::storedAsTheyAre()
{
    QFETCH(QString, path);
    const QResource resource(path);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    QVERIFY(resource.size() > 100000);
}

void TestProgramFonts::notCopied_data()
{
    storedAsTheyAre_data();
}

void TestProgramFonts::notCopied()
{
    QFETCH(QString, path);
    const QResource resource(path);
    QVERIFY(resource.isValid());
    // The font's first 4 KiB (its table directory and first tables) tell it from anything else,
    // and the search looks at the resource in place, copying nothing itself.
    const std::string_view head(reinterpret_cast<const char*>(resource.data()),
                                std::size_t(std::min<qint64>(resource.size(), 4096)));
    QCOMPARE(copiesInHeap(head), 0);
}

// Were the system's face of the same family and style drawn instead, its file would be mapped.
void TestProgramFonts::noSystemFace()
{
    const QList<QByteArray> lines = procSelf("maps").split('\n');
    for (const QByteArray& line : lines) {
        QVERIFY2(!line.contains("/LiberationSans-Regular.ttf") &&
                     !line.contains("/LiberationSans-Bold.ttf"),
                 line.constData());
    }
}

QTEST_MAIN(TestProgramFonts)
#include "test_program_fonts.moc"
