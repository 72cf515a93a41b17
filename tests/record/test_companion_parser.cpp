// Companion records read back: good and bad files fed whole and in small chunks, the sessions'
// histories made from them, a record written by the program's own pipeline read back exactly,
// the files as the reader opens them, and the holds judged again from a record's rows.

#include "chart/session_history.h"
#include "gauge/reading_pipeline.h"
#include "log/companion_row.h"
#include "record/companion_parser.h"
#include "record/record_file.h"
#include "record/record_hold.h"
#include "record/record_reader.h"
#include "record/record_sessions.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace piezon;
using record::Row;

namespace
{

const QByteArray kHeader = companion::header();

QByteArray lines(std::initializer_list<const char*> rows)
{
    QByteArray out;
    for (const char* row : rows)
        out += QByteArray(row) + "\r\n";
    return out;
}

// What the parser told, a line per thing, to compare with a table.
class Transcript : public record::RecordConsumer
{
public:
    QStringList said;
    std::vector<Row> rows;

    void sessionBegun(const QDateTime& local, qint64 ms, const QString& text, qint64 line) override
    {
        said << QStringLiteral("%1 %2 %3 @%4")
                    .arg(local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                    .arg(ms)
                    .arg(text)
                    .arg(line);
    }
    void readings(const Row* r, qsizetype count) override
    {
        for (qsizetype i = 0; i < count; ++i) {
            said << QStringLiteral("%1: %2 (%3, %4)")
                        .arg(r[i].ms)
                        .arg(r[i].centi)
                        .arg(r[i].byte)
                        .arg(r[i].offset);
            rows.push_back(r[i]);
        }
    }
    void event(qint64 ms, const QString& text, const QDateTime&) override
    {
        said << QStringLiteral("%1 %2").arg(ms).arg(text);
    }
};

// Feeds `file` in chunks of `chunk` bytes, as the reader does.
bool parse(record::CompanionParser& parser, const QByteArray& file, qsizetype chunk)
{
    for (qsizetype at = 0; at < file.size(); at += chunk) {
        if (!parser.feed(file.constData() + at, std::min(chunk, file.size() - at)))
            return false;
    }
    return parser.finish();
}

// A record as the program writes it, with its separator.
const QByteArray kOneSession = kHeader + lines({
                                             "2026-03-29 10:00:00.000;0;;;;;СТАРТ",
                                             "2026-03-29 10:00:00.015;15;200;173;0;5,43;",
                                             "2026-03-29 10:00:00.015;15;51;46;-5;1,6;",
                                             "2026-03-29 10:00:00.030;30;255;255;0;8;",
                                             "2026-03-29 10:00:00.045;45;7;-23;-30;-0,72;",
                                             "2026-03-29 10:00:01.000;1000;;;;;СТОП",
                                         });
const QStringList kOneSessionSaid = {
    "2026-03-29 10:00:00.000 0 СТАРТ @2",
    "15: 543 (200, 0)",
    "15: 160 (51, -5)",
    "30: 800 (255, 0)",
    "45: -72 (7, -30)",
    "1000 СТОП",
};

} // namespace

class TestCompanionParser : public QObject
{
    Q_OBJECT
private slots:
    void files_data();
    void files();
    void sessions();
    void roundTrip_data();
    void roundTrip();
    void reader_data();
    void reader();
    void movedAsideWhileOpen();
    void holdStartRow_data();
    void holdStartRow();
    void holdReplay_data();
    void holdReplay();
};

void TestCompanionParser::files_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<bool>("torn");
    QTest::addColumn<int>("failedLine"); // 0: accepted
    QTest::addColumn<QString>("reason");

    QTest::newRow("comma") << kOneSession << kOneSessionSaid << false << 0 << QString();
    QByteArray point = kOneSession;
    for (const char* caption : {"5,43", "1,6", "-0,72"})
        point.replace(caption, QByteArray(caption).replace(',', '.'));
    QTest::newRow("point") << point << kOneSessionSaid << false << 0 << QString();
    // An editor may drop the byte-order mark and the carriage returns.
    QByteArray plain = kOneSession.mid(3);
    plain.replace("\r\n", "\n");
    QTest::newRow("no mark, LF") << plain << kOneSessionSaid << false << 0 << QString();

    // Each START restarts «мс»; the third session's local time is earlier than the second's (the
    // clock was put back), and it still comes third. A later version's START may name its port.
    QTest::newRow("sessions") << kHeader + lines({
                                               "2026-10-25 02:59:00.000;0;;;;;СТАРТ",
                                               "2026-10-25 02:59:05.000;5000;;;;;СТОП",
                                               "2026-10-25 02:59:30.000;0;;;;;СТАРТ COM3",
                                               "2026-10-25 02:59:30.020;20;200;173;0;5,43;",
                                               "2026-10-25 02:00:10.000;40000;;;;;СТОП",
                                               "2026-10-25 02:00:20.000;0;;;;;СТАРТ",
                                           })
                              << QStringList{"2026-10-25 02:59:00.000 0 СТАРТ @2",
                                             "5000 СТОП",
                                             "2026-10-25 02:59:30.000 0 СТАРТ COM3 @4",
                                             "20: 543 (200, 0)",
                                             "40000 СТОП",
                                             "2026-10-25 02:00:20.000 0 СТАРТ @7"}
                              << false << 0 << QString();

    // Every event, and one this version does not know, passed on as written.
    QTest::newRow("events") << kHeader +
                                   lines({
                                       "2026-03-29 10:00:00.000;0;;;;;СТАРТ",
                                       "2026-03-29 10:00:02.000;2000;;;;;режим журнала: изменения",
                                       "2026-03-29 10:00:03.000;3000;;;;;погрешность: -5",
                                       "2026-03-29 10:00:07.000;7000;;;;;нет данных 4,0 с",
                                       "2026-03-29 10:00:08.000;8000;;;;;линия потеряна",
                                       "2026-03-29 10:00:09.000;9000;;;;;линия восстановлена",
                                       "2026-03-29 10:00:10.000;10000;;;;;испытание: начало, 10:00",
                                       "2026-03-29 10:00:11.000;11000;;;;;программа закрыта",
                                   })
                            << QStringList{"2026-03-29 10:00:00.000 0 СТАРТ @2",
                                           "2000 режим журнала: изменения",
                                           "3000 погрешность: -5",
                                           "7000 нет данных 4,0 с",
                                           "8000 линия потеряна",
                                           "9000 линия восстановлена",
                                           "10000 испытание: начало, 10:00",
                                           "11000 программа закрыта"}
                            << false << 0 << QString();

    // A record still being written: its last row not yet whole.
    QTest::newRow("torn last line") << kOneSession + "2026-03-29 10:00:01.015;1015;200;17"
                                    << kOneSessionSaid << true << 0 << QString();

    QTest::newRow("foreign CSV") << QByteArray("Name;Value\r\nx;1\r\n") << QStringList() << false
                                 << 1 << QStringLiteral("не запись показаний");
    QByteArray latin = kHeader;
    latin.replace("кгс/см2", "кгс/cм2");
    QTest::newRow("wrong header") << latin + lines({"2026-03-29 10:00:00.000;0;;;;;СТАРТ"})
                                  << QStringList() << false << 1
                                  << QStringLiteral("заголовок не тот");
    QTest::newRow("empty") << QByteArray() << QStringList() << false << 1
                           << QStringLiteral("файл пуст");
    QTest::newRow("header only") << kHeader << QStringList() << false << 2
                                 << QStringLiteral("нет ни одного сеанса");
    // The log itself, in Windows-1251.
    QTest::newRow("the log") << QByteArray("  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC     0"
                                           "    |    2.73     \xEA\xE3\xF1/c\xEC"
                                           "2\r\n")
                             << QStringList() << false << 1
                             << QStringLiteral("не запись показаний");
    QTest::newRow("byte 256") << kHeader + lines({
                                               "2026-03-29 10:00:00.000;0;;;;;СТАРТ",
                                               "2026-03-29 10:00:00.015;15;200;173;0;5,43;",
                                               "2026-03-29 10:00:00.030;30;256;173;0;5,43;",
                                           })
                              << QStringList() << false << 4 << QStringLiteral("байт");
    QTest::newRow("caption") << kHeader + lines({
                                              "2026-03-29 10:00:00.000;0;;;;;СТАРТ",
                                              "2026-03-29 10:00:00.015;15;200;173;0;5,4x;",
                                          })
                             << QStringList() << false << 3 << QStringLiteral("давление");
    QTest::newRow("reading before START")
        << kHeader + lines({"2026-03-29 10:00:00.015;15;200;173;0;5,43;"}) << QStringList() << false
        << 2 << QStringLiteral("до первой строки «СТАРТ»");
    QTest::newRow("no line ends") << kHeader + QByteArray(5000, 'x') << QStringList() << false << 2
                                  << QStringLiteral("длиннее");
}

void TestCompanionParser::files()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, said);
    QFETCH(bool, torn);
    QFETCH(int, failedLine);
    QFETCH(QString, reason);

    // Whole, a byte at a time, and in chunks that cut rows and the header anywhere.
    for (const qsizetype chunk :
         {std::max<qsizetype>(file.size(), 1), qsizetype(1), qsizetype(7)}) {
        Transcript transcript;
        record::CompanionParser parser(transcript);
        const bool accepted = parse(parser, file, chunk);
        QCOMPARE(parser.failedLine(), failedLine);
        QCOMPARE(accepted, failedLine == 0);
        if (!accepted) {
            QVERIFY2(parser.failure().startsWith(QStringLiteral("строка %1: ").arg(failedLine)) &&
                         parser.failure().contains(reason),
                     qPrintable(parser.failure()));
            continue;
        }
        QCOMPARE(transcript.said, said);
        QCOMPARE(parser.leftTornLine(), torn);
    }
}

void TestCompanionParser::sessions()
{
    const QByteArray file = kHeader + lines({
                                          "2026-03-29 10:00:00.000;0;;;;;СТАРТ",
                                          "2026-03-29 10:00:00.500;500;200;173;0;5,43;",
                                          "2026-03-29 10:00:00.500;500;201;174;0;5,46;",
                                          "2026-03-29 10:00:04.600;4600;;;;;нет данных 4,1 с",
                                          "2026-03-29 10:00:04.600;4600;51;46;0;1,44;",
                                          "2026-03-29 10:00:05.000;5000;;;;;линия потеряна",
                                          "2026-03-29 10:00:09.000;9000;;;;;линия восстановлена",
                                          "2026-03-29 10:00:12.000;12000;;;;;нет данных 3,0 с",
                                          "2026-03-29 10:00:13.000;13000;;;;;испытание: ВЫДЕРЖАНО",
                                          "2026-03-29 10:00:14.000;14000;;;;;СТОП",
                                          "2026-03-29 09:00:00.000;0;;;;;СТАРТ",
                                          "2026-03-29 09:00:01.000;1000;;;;;СТОП",
                                      });
    record::RecordSessions sessions;
    record::CompanionParser parser(sessions);
    QVERIFY(parse(parser, file, 5));

    QCOMPARE(sessions.sessions().size(), std::size_t(2));
    // The one with readings, though an earlier clock and an emptier session come after it.
    QCOMPARE(sessions.preferred(), 0);
    const SessionHistory& h = sessions.sessions()[0]->history;
    QCOMPARE(h.readingCount(), 3);
    QCOMPARE(h.maximum()->centi, 546);
    QCOMPARE(h.minimum()->ms, 4600);
    // A silence begins at the last reading before it, or at the line's return; a lost line at
    // its loss.
    QCOMPARE(h.gaps().size(), std::size_t(3));
    const std::vector<std::pair<qint64, qint64>> gaps = {{500, 4600}, {5000, 9000}, {9000, 12000}};
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        QCOMPARE(h.gaps()[i].fromMs, gaps[i].first);
        QCOMPARE(h.gaps()[i].toMs, gaps[i].second);
    }
    QCOMPARE(h.noteAt(13000), QStringLiteral("испытание: ВЫДЕРЖАНО"));
    QCOMPARE(h.marks().back().kind, HistoryEvent::Stop);
    QCOMPARE(sessions.sessions()[1]->localStart.time(), QTime(9, 0));
}

void TestCompanionParser::roundTrip_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::newRow("comma") << QChar(',');
    QTest::newRow("point") << QChar('.');
}

void TestCompanionParser::roundTrip()
{
    QFETCH(QChar, separator);

    // The program's own writing: the pipeline's rows and the companion's events, each batch
    // also told to a history as the live session tells its own.
    struct Collect : RecordSink {
        QByteArray text;
        bool write(const QByteArray& rows, QString*, qint64*) override
        {
            text += rows;
            return true;
        }
    } record;
    const QDateTime start(QDate(2026, 3, 29), QTime(23, 59, 58));
    const auto stampAt = [&](qint64 ms) { return companion::stamp(start.addMSecs(ms), ms); };
    ReadingPipeline pipeline(separator);
    SessionHistory live;
    std::vector<Row> written;
    record.text = companion::header() + companion::eventRow(stampAt(0), companion::event::kStart);
    live.begin(start);
    live.mark(0, HistoryEvent::Start);
    qint64 ms = 0;
    for (const int offset : {0, -30, 30}) {
        ms += 200;
        record.text += companion::eventRow(stampAt(ms), companion::offsetEvent(offset));
        live.mark(ms, HistoryEvent::Offset);
        const QString offsetText = QStringLiteral("%1").arg(offset, 6);
        for (int first = 0; first < 256; first += 13) {
            ms += 15;
            QByteArray bytes;
            for (int b = first; b < std::min(first + 13, 256); ++b)
                bytes += char(b);
            ReadingPipeline::Sinks sinks;
            sinks.companion = &record;
            sinks.stamp = stampAt(ms);
            QString error;
            QCOMPARE(
                pipeline.process(bytes.constData(), bytes.size(), offsetText, false, sinks, &error),
                ReadingPipeline::Result::Shown);
            const std::vector<qint16>& taken = pipeline.lastBatch();
            live.addBatch(ms, taken.data(), qsizetype(taken.size()));
            for (qsizetype i = 0; i < bytes.size(); ++i)
                written.push_back(Row{ms, taken[std::size_t(i)], quint8(bytes[i]), qint16(offset)});
        }
        const qint64 quietFrom = ms;
        ms += 3456;
        record.text +=
            companion::eventRow(stampAt(ms), companion::silenceEvent(ms - quietFrom, separator));
        live.mark(quietFrom, HistoryEvent::SilenceBegin);
        live.mark(ms, HistoryEvent::SilenceEnd);
    }
    ms += 10;
    record.text += companion::eventRow(stampAt(ms), companion::event::kStop);
    live.mark(ms, HistoryEvent::Stop);

    Transcript rows;
    record::CompanionParser rowParser(rows);
    QVERIFY2(parse(rowParser, record.text, 65536), qPrintable(rowParser.failure()));
    QCOMPARE(rows.rows.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const Row& a = rows.rows[i];
        const Row& b = written[i];
        QVERIFY2(a.ms == b.ms && a.centi == b.centi && a.byte == b.byte && a.offset == b.offset,
                 qPrintable(QStringLiteral("row %1: byte %2 offset %3 read as %4 hundredths, "
                                           "written %5")
                                .arg(i)
                                .arg(b.byte)
                                .arg(b.offset)
                                .arg(a.centi)
                                .arg(b.centi)));
    }

    // The history made from the record is the one the session kept.
    record::RecordSessions sessions;
    record::CompanionParser parser(sessions);
    QVERIFY(parse(parser, record.text, 4096));
    QCOMPARE(sessions.sessions().size(), std::size_t(1));
    const SessionHistory& read = sessions.sessions()[0]->history;
    QCOMPARE(read.localStart(), start);
    QCOMPARE(read.readingCount(), live.readingCount());
    QCOMPARE(read.latest(), live.latest());
    QCOMPARE(read.maximum()->centi, live.maximum()->centi);
    QCOMPARE(read.maximum()->ms, live.maximum()->ms);
    QCOMPARE(read.minimum()->centi, live.minimum()->centi);
    QCOMPARE(read.minimum()->ms, live.minimum()->ms);
    QCOMPARE(read.marks().size(), live.marks().size());
    for (std::size_t i = 0; i < live.marks().size(); ++i) {
        QCOMPARE(read.marks()[i].ms, live.marks()[i].ms);
        QCOMPARE(read.marks()[i].kind, live.marks()[i].kind);
    }
    QCOMPARE(read.gaps().size(), live.gaps().size());
    for (std::size_t i = 0; i < live.gaps().size(); ++i) {
        QCOMPARE(read.gaps()[i].fromMs, live.gaps()[i].fromMs);
        QCOMPARE(read.gaps()[i].toMs, live.gaps()[i].toMs);
    }
    const auto a = read.envelope(0, ms, 97);
    const auto b = live.envelope(0, ms, 97);
    for (std::size_t c = 0; c < b.size(); ++c)
        QVERIFY(a[c].any == b[c].any && a[c].lo == b[c].lo && a[c].hi == b[c].hi);
}

void TestCompanionParser::reader_data()
{
    QTest::addColumn<QByteArray>("file"); // "<folder>": a folder; "<none>": nothing there
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    using Kind = RecordReader::Outcome::Kind;

    QTest::newRow("read") << kOneSession << false << int(Kind::Read) << QString();
    QTest::newRow("refused") << QByteArray("Name;Value\r\n") << false << int(Kind::Refused)
                             << QStringLiteral("строка 1: ");
    QTest::newRow("missing") << QByteArray("<none>") << false << int(Kind::Failed)
                             << QStringLiteral("Нет такого файла");
    QTest::newRow("folder") << QByteArray("<folder>") << false << int(Kind::Failed)
                            << QStringLiteral("папка");
    // Tens of chunks: the thread is still at its first when it is told.
    QTest::newRow("cancelled") << kOneSession + QByteArray("2026-03-29 10:00:01.015;1015;200;173;"
                                                           "0;5,43;\r\n")
                                                    .repeated(700000)
                               << true << int(Kind::Cancelled) << QString();
}

void TestCompanionParser::reader()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, cancel);
    QFETCH(int, kind);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Пьезон_RX418.csv"));
    if (file == "<folder>") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Пьезон_RX418.csv")));
    } else if (file != "<none>") {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    }
    RecordReader reader;
    QSignalSpy finished(&reader, &RecordReader::finished);
    QVERIFY(reader.start(path));
    QVERIFY(!reader.start(path));
    if (cancel)
        reader.cancel();
    QVERIFY(finished.wait(20000));
    QVERIFY(!reader.busy());
    const RecordReader::Outcome outcome = reader.take();
    QCOMPARE(int(outcome.kind), kind);
    QVERIFY2(outcome.reason.contains(reason), qPrintable(outcome.reason));
    if (outcome.kind == RecordReader::Outcome::Kind::Read) {
        QCOMPARE(outcome.sessions->sessions().size(), std::size_t(1));
        QCOMPARE(outcome.readings, 4);
    }
}

void TestCompanionParser::movedAsideWhileOpen()
{
    // The live session's own record, open in the reader, when START moves it aside.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Пьезон_RX418.csv"));
    const QString previous = dir.filePath(QStringLiteral("Пьезон_RX418_предыдущий.csv"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(kOneSession) == kOneSession.size());
    out.close();
    RecordFile file;
    QString error;
    QVERIFY2(file.open(path, &error), qPrintable(error));
    QCOMPARE(file.size(), kOneSession.size());
    QVERIFY(QFile::rename(path, previous));
    QByteArray read(kOneSession.size(), '\0');
    QCOMPARE(file.read(read.data(), read.size(), &error), kOneSession.size());
    QCOMPARE(read, kOneSession);
}

void TestCompanionParser::holdStartRow_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<qint64>("durationMs");
    QTest::addColumn<int>("drop");
    QTest::addColumn<int>("floor"); // -1: none
    QTest::newRow("comma, floor") << QChar(',') << qint64(90 * 60 * 1000) << 25 << 195;
    QTest::newRow("point, no floor") << QChar('.') << qint64(10 * 1000) << 3 << -1;
}

void TestCompanionParser::holdStartRow()
{
    QFETCH(QChar, separator);
    QFETCH(qint64, durationMs);
    QFETCH(int, drop);
    QFETCH(int, floor);
    HoldSettings settings;
    settings.durationMs = durationMs;
    settings.allowedDropCenti = drop;
    if (floor >= 0)
        settings.floorCenti = floor;
    const QString row = holdStartEvent(settings, separator);
    const std::optional<HoldSettings> read = record::holdStartSettings(row);
    QVERIFY2(read, qPrintable(row));
    QCOMPARE(read->durationMs, durationMs);
    QCOMPARE(read->allowedDropCenti, drop);
    QCOMPARE(read->floorCenti, settings.floorCenti);
}

namespace
{

// A session's rows from «мс» and what each says: a caption is a reading, anything else an event.
QByteArray session(const QList<QPair<qint64, QString>>& rows)
{
    const QDateTime start(QDate(2026, 12, 8), QTime(9, 0));
    QByteArray out = companion::eventRow(companion::stamp(start, 0), companion::event::kStart);
    for (const auto& [ms, what] : rows) {
        const QByteArray stamp = companion::stamp(start.addMSecs(ms), ms);
        out += parseHundredths(what) ? stamp + companion::readingFields(200, 173, -2, what)
                                     : companion::eventRow(stamp, what);
    }
    return out;
}

} // namespace

void TestCompanionParser::holdReplay_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("sessionIndex");
    QTest::addColumn<qint64>("startMs");
    QTest::addColumn<qint64>("markedMs"); // 0: the hold of the start row at startMs
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("cause");
    QTest::addColumn<QList<int>>("numbers"); // start, end, min, max, readings, end ms
    QTest::addColumn<QString>("failure");
    const QString start = QStringLiteral("испытание: начало, 0:10, допустимое падение 0,20");
    const QString floor = start + QStringLiteral(", не ниже 4,95");
    using V = HoldVerdict;
    using C = HoldCause;

    // The live hold's rows: judged as it was, its start pressure the reading before its row.
    const QByteArray held = kHeader + session({{1000, "5,02"},
                                               {1500, "5"},
                                               {1500, start},
                                               {6000, "4,9"},
                                               {11500, "4,85"},
                                               {11500, "4,95"},
                                               {11600, "4,1"},
                                               {11600, "испытание: ВЫДЕРЖАНО"}});
    QTest::newRow("held") << held << 0 << qint64(1500) << qint64(0) << int(V::Held)
                          << int(C::Completed) << QList<int>{500, 495, 485, 500, 3, 11500}
                          << QString();
    QTest::newRow("below «Не ниже»")
        << kHeader + session({{1000, "5"}, {1000, floor}, {3000, "4,96"}, {4000, "4,94"}}) << 0
        << qint64(1000) << qint64(0) << int(V::NotHeld) << int(C::BelowFloor)
        << QList<int>{500, 494, 494, 500, 2, 4000} << QString();
    // Its end row comes before the silence's own, written when the silence ends.
    QTest::newRow("silence, by its row")
        << kHeader + session({{1000, "5"},
                              {1000, start},
                              {2000, "4,99"},
                              {4500, "испытание: ПРЕРВАНО, нет данных от манометра"},
                              {9000, "нет данных 7,0 с"}})
        << 0 << qint64(1000) << qint64(0) << int(V::Aborted) << int(C::Silence)
        << QList<int>{500, 499, 499, 500, 1, 4500} << QString();
    QTest::newRow("STOP") << kHeader + session({{1000, "5"},
                                                {1000, start},
                                                {3000, "испытание: ПРЕРВАНО, нажата кнопка СТОП"},
                                                {3000, "СТОП"}})
                          << 0 << qint64(1000) << qint64(0) << int(V::Aborted) << int(C::Stop)
                          << QList<int>{500, 500, 500, 500, 0, 3000} << QString();

    // Marked afterwards: a reading at the mark's own moment is its start pressure.
    QTest::newRow("marked, not held")
        << held << 0 << qint64(1000) << qint64(10500) << int(V::NotHeld) << int(C::Completed)
        << QList<int>{502, 495, 485, 502, 4, 11500} << QString();
    QTest::newRow("marked, line lost")
        << kHeader + session({{1000, "5"}, {2000, "4,99"}, {3000, "линия потеряна"}}) << 0
        << qint64(1000) << qint64(10000) << int(V::Aborted) << int(C::LineLost)
        << QList<int>{500, 499, 499, 500, 1, 3000} << QString();
    QTest::newRow("marked, a silence: the last reading heard")
        << kHeader + session({{1000, "5"}, {2000, "4,99"}, {9000, "нет данных 7,0 с"}}) << 0
        << qint64(1000) << qint64(10000) << int(V::Aborted) << int(C::Silence)
        << QList<int>{500, 499, 499, 500, 1, 2000} << QString();
    QTest::newRow("marked, the second session")
        << kHeader + session({{1000, "7"}, {2000, "СТОП"}}) + session({{500, "5"}, {20000, "5"}})
        << 1 << qint64(1000) << qint64(10000) << int(V::Held) << int(C::Completed)
        << QList<int>{500, 500, 500, 500, 0, 11000} << QString();
    QTest::newRow("marked past the end")
        << kHeader + session({{1000, "5"}, {2000, "4,99"}}) << 0 << qint64(1000) << qint64(10000)
        << 0 << 0 << QList<int>() << QStringLiteral("раньше конца испытания");
    QTest::newRow("marked before any reading")
        << kHeader + session({{1000, "5"}, {20000, "5"}}) << 0 << qint64(500) << qint64(10000) << 0
        << 0 << QList<int>() << QStringLiteral("нет ни одного показания");
}

void TestCompanionParser::holdReplay()
{
    QFETCH(QByteArray, file);
    QFETCH(int, sessionIndex);
    QFETCH(qint64, startMs);
    QFETCH(qint64, markedMs);
    QFETCH(int, verdict);
    QFETCH(int, cause);
    QFETCH(QList<int>, numbers);
    QFETCH(QString, failure);

    record::HoldMark mark;
    mark.session = sessionIndex;
    mark.startMs = startMs;
    if (markedMs > 0) {
        HoldSettings settings;
        settings.durationMs = markedMs;
        settings.allowedDropCenti = 5;
        mark.settings = settings;
    }
    record::HoldReplay replay(mark);
    record::CompanionParser parser(replay);
    QVERIFY2(parse(parser, file, 9), qPrintable(parser.failure()));
    if (!failure.isEmpty()) {
        QVERIFY(!replay.judged());
        QVERIFY2(replay.failure().contains(failure), qPrintable(replay.failure()));
        return;
    }
    QVERIFY2(replay.judged(), qPrintable(replay.failure()));
    const HoldOutcome& o = replay.outcome();
    QCOMPARE(int(o.verdict), verdict);
    QCOMPARE(int(o.cause), cause);
    QCOMPARE((QList<int>{o.startCenti, o.endCenti, o.minCenti, o.maxCenti, int(o.readings),
                         int(o.endMs)}),
             numbers);
    QCOMPARE(replay.offset(), -2);
    QCOMPARE(replay.localStart(), QDateTime(QDate(2026, 12, 8), QTime(9, 0)).addMSecs(startMs));
}

QTEST_GUILESS_MAIN(TestCompanionParser)
#include "test_companion_parser.moc"
