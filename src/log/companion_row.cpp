#include "log/companion_row.h"

#include <cstdio>

namespace piezon::companion
{

QByteArray header()
{
    // The unit with the Cyrillic "с", as a reader expects it; the log keeps its own Latin one.
    return QByteArrayLiteral("\xEF\xBB\xBF") +
           QStringLiteral("время;мс;байт;показание;погрешность;кгс/см2;событие\r\n").toUtf8();
}

QByteArray stamp(const QDateTime& local, qint64 sinceStartMs)
{
    // Fixed fields, spelled here rather than by a locale: a spreadsheet reads this form as a
    // date and time in any language.
    const QDate d = local.date();
    const QTime t = local.time();
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d;%lld;",
                                d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(),
                                t.msec(), static_cast<long long>(sinceStartMs));
    return QByteArray(text, n);
}

QByteArray readingFields(int byte, int corrected, int offset, const QString& caption)
{
    QByteArray row;
    row.reserve(32);
    row += QByteArray::number(byte) + ';' + QByteArray::number(corrected) + ';' +
           QByteArray::number(offset) + ';' + caption.toUtf8() + ";\r\n";
    return row;
}

QByteArray eventRow(const QByteArray& stamp, const QString& event)
{
    return stamp + ";;;;" + event.toUtf8() + "\r\n";
}

QString silenceEvent(qint64 silentMs, QChar separator)
{
    // Tenths, rounded half up, in whole numbers: no binary fraction decides the last digit.
    const qint64 tenths = (silentMs + 50) / 100;
    return QStringLiteral("нет данных %1%2%3 с").arg(tenths / 10).arg(separator).arg(tenths % 10);
}

QString offsetEvent(int offset)
{
    return event::kOffset + QString::number(offset);
}

bool holdsReading(const QByteArray& text)
{
    // The first line is the header; a reading's row has its byte in the third field.
    qsizetype line = text.indexOf('\n');
    while (line >= 0 && line + 1 < text.size()) {
        const qsizetype begin = line + 1;
        line = text.indexOf('\n', begin);
        const qsizetype end = line < 0 ? text.size() : line;
        const qsizetype first = text.indexOf(';', begin);
        const qsizetype second = first < 0 || first >= end ? -1 : text.indexOf(';', first + 1);
        if (second < 0 || second >= end)
            continue;
        const qsizetype third = second + 1;
        if (third < end && text.at(third) >= '0' && text.at(third) <= '9')
            return true;
    }
    return false;
}

QString pathBeside(const QString& logPath)
{
    QString path = logPath;
    if (path.endsWith(QLatin1String(".log")))
        path.chop(4);
    return path + QStringLiteral(".csv");
}

} // namespace piezon::companion
