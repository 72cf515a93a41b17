// How fast a saved companion record is read back: a record of ROWS readings (default 1 000 000)
// as the program writes it at line rate (960 readings a second, in batches of 14 or 15 every 15 ms,
// with a few events), parsed in 1 MiB chunks into the sessions' histories, as opening a record
// does. Prints the best of --runs runs in rows a second. Then the same record from a file, read
// by the program's reader on its thread while the main loop keeps a 5 ms timer, as the live
// session keeps its line: how late that timer came at worst.
//
//   record-parse-bench [--rows N] [--runs N] [--point]

#include "log/companion_row.h"
#include "record/companion_parser.h"
#include "record/record_reader.h"
#include "record/record_sessions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryFile>
#include <QTimer>

#include <cstdio>

using namespace piezon;

namespace
{

constexpr qsizetype kChunk = 1 << 20;

QByteArray makeRecord(qint64 rows, QChar separator)
{
    const QDateTime start(QDate(2026, 12, 8), QTime(9, 0));
    QByteArray out = companion::header();
    out.reserve(rows * 48 + 4096);
    out += companion::eventRow(companion::stamp(start, 0), companion::event::kStart);
    qint64 ms = 0;
    qint64 written = 0;
    int phase = 0;
    while (written < rows) {
        ms += 15;
        const QByteArray stamp = companion::stamp(start.addMSecs(ms), ms);
        const int batch = (phase++ % 2) ? 14 : 15;
        for (int i = 0; i < batch && written < rows; ++i, ++written) {
            // A slow swell around 5 kgf/cm2: the captions of one byte recur, as on a real line.
            const int byte = 150 + int((written / 2000) % 60);
            const int centi = byte * 800 / 255;
            const QString caption = QStringLiteral("%1%2%3")
                                        .arg(centi / 100)
                                        .arg(separator)
                                        .arg(centi % 100, 2, 10, QLatin1Char('0'));
            out += stamp;
            out += companion::readingFields(byte, byte, 0, caption);
        }
        if (phase % 20000 == 0)
            out += companion::eventRow(stamp, companion::event::kModeChanges);
    }
    out += companion::eventRow(companion::stamp(start.addMSecs(ms + 5), ms + 5),
                               companion::event::kStop);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 rows = 1000000;
    int runs = 5;
    QChar separator = QLatin1Char(',');
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows") && i + 1 < args.size())
            rows = args[++i].toLongLong();
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--point"))
            separator = QLatin1Char('.');
        else {
            std::fprintf(stderr, "usage: record-parse-bench [--rows N] [--runs N] [--point]\n");
            return 2;
        }
    }
    if (rows <= 0 || runs <= 0)
        return 2;

    const QByteArray record = makeRecord(rows, separator);
    qint64 best = -1;
    for (int run = 0; run < runs; ++run) {
        record::RecordSessions sessions;
        record::CompanionParser parser(sessions);
        QElapsedTimer timer;
        timer.start();
        for (qsizetype at = 0; at < record.size(); at += kChunk)
            parser.feed(record.constData() + at, std::min(kChunk, record.size() - at));
        const bool ok = parser.finish();
        const qint64 ns = timer.nsecsElapsed();
        if (!ok || parser.readingCount() != rows ||
            sessions.sessions().front()->history.readingCount() != rows) {
            std::fprintf(stderr, "record-parse-bench: the record was not read back: %s\n",
                         qPrintable(parser.failure()));
            return 1;
        }
        if (best < 0 || ns < best)
            best = ns;
    }
    const double seconds = double(best) / 1e9;
    std::printf("record parse: %lld rows, %.1f MB, best of %d: %.3f s, %.2f million rows/s, "
                "%.0f MB/s\n",
                static_cast<long long>(rows), double(record.size()) / 1e6, runs, seconds,
                double(rows) / seconds / 1e6, double(record.size()) / seconds / 1e6);

    QTemporaryFile file;
    if (!file.open() || file.write(record) != record.size() || !file.flush()) {
        std::fprintf(stderr, "record-parse-bench: cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    RecordReader reader;
    QEventLoop loop;
    QObject::connect(&reader, &RecordReader::finished, &loop, &QEventLoop::quit);
    constexpr int kTickMs = 5;
    QTimer tick;
    tick.setInterval(kTickMs);
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer sinceTick;
    qint64 longestNs = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestNs = std::max(longestNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    QElapsedTimer whole;
    whole.start();
    sinceTick.start();
    tick.start();
    reader.start(file.fileName());
    loop.exec();
    const qint64 readNs = whole.nsecsElapsed();
    const RecordReader::Outcome outcome = reader.take();
    if (outcome.kind != RecordReader::Outcome::Kind::Read || outcome.readings != rows) {
        std::fprintf(stderr, "record-parse-bench: the file was not read back: %s\n",
                     qPrintable(outcome.reason));
        return 1;
    }
    std::printf("record read from a file on the reader's thread: %.3f s, %.2f million rows/s; "
                "the main loop's %d ms timer late by %.1f ms at most\n",
                double(readNs) / 1e9, double(rows) / (double(readNs) / 1e9) / 1e6, kTickMs,
                double(longestNs) / 1e6 - kTickMs);
    return 0;
}
