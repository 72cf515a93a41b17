#include "record/companion_parser.h"

#include "log/companion_row.h"

#include <cstring>

namespace piezon::record
{
namespace
{

// Rows are handed on in runs of this many, and before every event.
constexpr std::size_t kRun = 4096;

const QByteArray& headerLine()
{
    // The writer's own header, without its byte-order mark and line end.
    static const QByteArray line = [] {
        QByteArray text = companion::header();
        text.remove(0, 3);
        text.chop(2);
        return text;
    }();
    return line;
}

const QByteArray& startEvent()
{
    static const QByteArray text = companion::event::kStart.toUtf8();
    return text;
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline int digitAt(const char* p)
{
    return *p - '0';
}

// "YYYY-MM-DD HH:MM:SS.mmm;": the shape only. The date itself is read for START alone; a row's
// local time is never needed, since «мс» orders and places everything.
bool stampShape(const char* p)
{
    static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd.ddd;";
    for (int i = 0; i < 24; ++i) {
        const char want = kShape[i];
        if (want == 'd' ? !isDigit(p[i]) : p[i] != want)
            return false;
    }
    return true;
}

int twoDigits(const char* p)
{
    return digitAt(p) * 10 + digitAt(p + 1);
}

QDateTime stampTime(const char* p)
{
    const QDate date(digitAt(p) * 1000 + digitAt(p + 1) * 100 + twoDigits(p + 2), twoDigits(p + 5),
                     twoDigits(p + 8));
    const QTime time(twoDigits(p + 11), twoDigits(p + 14), twoDigits(p + 17),
                     digitAt(p + 20) * 100 + twoDigits(p + 21));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

// A whole number of at most `most` digits, with a minus sign if `sign`, ending at a ';'.
// Returns the ';', or null.
const char* wholeField(const char* p, const char* end, bool sign, int most, qint64* value)
{
    bool negative = false;
    if (sign && p < end && *p == '-') {
        negative = true;
        ++p;
    }
    qint64 v = 0;
    int digits = 0;
    while (p < end && isDigit(*p)) {
        if (++digits > most)
            return nullptr;
        v = v * 10 + digitAt(p);
        ++p;
    }
    if (digits == 0 || p == end || *p != ';')
        return nullptr;
    *value = negative ? -v : v;
    return p;
}

// The caption: "2,73", "2.73", "1,6", "8", "-0,05"; either separator, whatever the desktop
// that wrote it used. Returns the ';' after it, or null.
const char* captionField(const char* p, const char* end, qint16* centi)
{
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    int whole = 0;
    int digits = 0;
    while (p < end && isDigit(*p)) {
        if (++digits > 3)
            return nullptr;
        whole = whole * 10 + digitAt(p);
        ++p;
    }
    if (digits == 0)
        return nullptr;
    int hundredths = 0;
    if (p < end && (*p == ',' || *p == '.')) {
        ++p;
        if (p == end || !isDigit(*p))
            return nullptr;
        hundredths = digitAt(p) * 10;
        ++p;
        if (p < end && isDigit(*p)) {
            hundredths += digitAt(p);
            ++p;
        }
    }
    if (p == end || *p != ';')
        return nullptr;
    const int value = whole * 100 + hundredths;
    *centi = qint16(negative ? -value : value);
    return p;
}

} // namespace

CompanionParser::CompanionParser(RecordConsumer& consumer) : m_consumer(consumer)
{
    m_rows.reserve(kRun);
}

QString CompanionParser::failure() const
{
    if (!refused())
        return QString();
    return QStringLiteral("строка %1: %2").arg(m_refusedLine).arg(m_reason);
}

void CompanionParser::refuse(const QString& reason)
{
    if (refused())
        return;
    m_refusedLine = m_line;
    m_reason = reason;
    m_rows.clear();
}

bool CompanionParser::feed(const char* data, qsizetype size)
{
    if (refused() || m_finished)
        return false;
    if (size <= 0)
        return true;
    m_anyBytes = true;
    const char* p = data;
    const char* const end = data + size;
    if (!m_partial.isEmpty()) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const char* upTo = nl ? nl : end;
        if (m_partial.size() + (upTo - p) > kMaxLine) {
            ++m_line;
            refuse(QStringLiteral("строка длиннее %1 байт: это не запись показаний").arg(kMaxLine));
            return false;
        }
        m_partial.append(p, upTo - p);
        if (!nl)
            return true;
        line(m_partial.constData(), m_partial.constData() + m_partial.size());
        m_partial.resize(0);
        p = nl + 1;
    }
    while (p < end && !refused()) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!nl) {
            if (end - p > kMaxLine) {
                ++m_line;
                refuse(QStringLiteral("строка длиннее %1 байт: это не запись показаний")
                           .arg(kMaxLine));
                return false;
            }
            m_partial.append(p, end - p);
            break;
        }
        line(p, nl);
        p = nl + 1;
    }
    flush();
    return !refused();
}

bool CompanionParser::finish()
{
    if (refused())
        return false;
    if (m_finished)
        return true;
    flush();
    if (!m_anyBytes) {
        m_line = 1;
        refuse(QStringLiteral("файл пуст"));
        return false;
    }
    if (m_line == 0) {
        // Not even the header's line end: read what there is as the header, so that a file that
        // is something else entirely is named as such.
        line(m_partial.constData(), m_partial.constData() + m_partial.size());
        m_partial.clear();
        if (refused())
            return false;
    }
    // A record still being written may end in the middle of a row: the rows before it stand.
    m_torn = !m_partial.isEmpty();
    m_partial.clear();
    m_finished = true;
    if (m_sessions == 0) {
        ++m_line;
        refuse(QStringLiteral("в записи нет ни одного сеанса (нет строки «СТАРТ»)"));
        return false;
    }
    m_consumer.ended();
    return true;
}

void CompanionParser::flush()
{
    if (m_rows.empty())
        return;
    m_consumer.readings(m_rows.data(), qsizetype(m_rows.size()));
    m_rows.clear();
}

void CompanionParser::line(const char* begin, const char* end)
{
    ++m_line;
    if (end > begin && end[-1] == '\r')
        --end;
    if (m_line == 1) {
        header(begin, end);
        return;
    }
    // Nothing we write, but nothing that says anything either (an editor's last line end).
    if (begin == end)
        return;
    if (row(begin, end) && m_rows.size() >= kRun)
        flush();
}

void CompanionParser::header(const char* begin, const char* end)
{
    // With or without the byte-order mark: a text editor may have saved it without.
    if (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0)
        begin += 3;
    const QByteArray& want = headerLine();
    if (end - begin == want.size() && std::memcmp(begin, want.constData(), want.size()) == 0)
        return;
    const QByteArray firstTwo = want.left(want.indexOf(';', want.indexOf(';') + 1) + 1);
    if (end - begin >= firstTwo.size() &&
        std::memcmp(begin, firstTwo.constData(), firstTwo.size()) == 0)
        refuse(QStringLiteral("заголовок не тот: ожидается «%1»").arg(QString::fromUtf8(want)));
    else
        refuse(QStringLiteral("это не запись показаний этой программы: первая строка не «%1»")
                   .arg(QString::fromUtf8(want)));
}

bool CompanionParser::row(const char* begin, const char* end)
{
    if (end - begin < 26 || !stampShape(begin)) {
        refuse(QStringLiteral("время записано не как ГГГГ-ММ-ДД ЧЧ:ММ:СС.ммм"));
        return false;
    }
    qint64 ms = 0;
    const char* p = wholeField(begin + 24, end, false, 15, &ms);
    if (!p) {
        refuse(QStringLiteral("«мс» — не целое число миллисекунд"));
        return false;
    }
    ++p;
    if (p < end && *p == ';') {
        eventRow(begin, ms, p, end);
        return false;
    }
    if (m_sessions == 0) {
        refuse(QStringLiteral("показание до первой строки «СТАРТ»"));
        return false;
    }
    qint64 byte = 0;
    qint64 corrected = 0;
    qint64 offset = 0;
    Row r;
    r.ms = ms;
    if (!(p = wholeField(p, end, false, 3, &byte)) || byte > 255) {
        refuse(QStringLiteral("байт — не число от 0 до 255"));
        return false;
    }
    if (!(p = wholeField(p + 1, end, true, 6, &corrected))) {
        refuse(QStringLiteral("«показание» — не целое число"));
        return false;
    }
    if (!(p = wholeField(p + 1, end, true, 4, &offset))) {
        refuse(QStringLiteral("«погрешность» — не целое число"));
        return false;
    }
    if (!(p = captionField(p + 1, end, &r.centi))) {
        refuse(QStringLiteral("давление записано не как число кгс/см2"));
        return false;
    }
    if (p + 1 != end) {
        refuse(QStringLiteral("у показания заполнено поле «событие»"));
        return false;
    }
    r.byte = quint8(byte);
    r.offset = qint16(offset);
    m_rows.push_back(r);
    ++m_readings;
    return true;
}

void CompanionParser::eventRow(const char* stamp, qint64 ms, const char* p, const char* end)
{
    if (end - p < 4 || std::memcmp(p, ";;;;", 4) != 0) {
        refuse(QStringLiteral("не хватает полей: ожидается время;мс;байт;показание;погрешность;"
                              "кгс/см2;событие"));
        return;
    }
    p += 4;
    if (p == end) {
        refuse(QStringLiteral("в строке нет ни показания, ни события"));
        return;
    }
    if (std::memchr(p, ';', std::size_t(end - p))) {
        refuse(QStringLiteral("лишнее поле после события"));
        return;
    }
    flush();
    const QByteArray& start = startEvent();
    const qsizetype size = end - p;
    // "СТАРТ", or "СТАРТ" and what a later version says of it after a blank.
    const bool isStart = size >= start.size() &&
                         std::memcmp(p, start.constData(), std::size_t(start.size())) == 0 &&
                         (size == start.size() || p[start.size()] == ' ');
    const QString text = QString::fromUtf8(p, size);
    const QDateTime local = stampTime(stamp);
    if (!local.isValid()) {
        refuse(QStringLiteral("нет такой даты или времени"));
        return;
    }
    if (isStart) {
        ++m_sessions;
        m_consumer.sessionBegun(local, ms, text, m_line);
        return;
    }
    if (m_sessions == 0) {
        refuse(QStringLiteral("событие до первой строки «СТАРТ»"));
        return;
    }
    m_consumer.event(ms, text, local);
}

} // namespace piezon::record
