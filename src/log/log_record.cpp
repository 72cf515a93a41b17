#include "log/log_record.h"

#include <QDir>

#include <algorithm>

namespace piezon
{
namespace
{

// "  Погрешность" in Windows-1251.
constexpr char kOffsetLabel[] = "  \xCF\xEE\xE3\xF0\xE5\xF8\xED\xEE\xF1\xF2\xFC";
constexpr char kSeparator[] = "    |    ";
// "     кгс/cм2" in Windows-1251; the letter after the slash is a Latin c (0x63), as in the files
// the gauge's users already keep.
constexpr char kUnit[] = "     \xEA\xE3\xF1/c\xEC"
                         "2\r\n";

void appendAscii(QByteArray& out, const QString& text)
{
    for (const QChar c : text)
        out.append(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
}

} // namespace

QByteArray buildLogRecord(const QString& offsetText, const QString& caption)
{
    QByteArray record;
    record.reserve(64);
    record.append(kOffsetLabel, sizeof kOffsetLabel - 1);
    appendAscii(record, offsetText);
    record.append(kSeparator, sizeof kSeparator - 1);
    appendAscii(record, caption);
    record.append(kUnit, sizeof kUnit - 1);
    return record;
}

QString logFileName()
{
    return QStringLiteral("Пьезон_RX418.log");
}

QString previousLogPath(const QString& logPath)
{
    // The extension is what follows the last dot of the file name itself, not of a folder.
    const qsizetype name =
        std::max(logPath.lastIndexOf(QLatin1Char('/')), logPath.lastIndexOf(QLatin1Char('\\'))) + 1;
    qsizetype dot = logPath.lastIndexOf(QLatin1Char('.'));
    if (dot <= name)
        dot = logPath.size();
    return logPath.left(dot) + QStringLiteral("_предыдущий") + logPath.mid(dot);
}

QString joinedWithBackslash(const QString& programDir)
{
    // The folder exactly as reported, then a backslash: at a drive root ("C:\") that gives two
    // in a row, which Windows takes as one.
    // Qt reports Windows folders with forward slashes; spelled here the same on every platform.
    QString folder = programDir;
    folder.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return folder + QLatin1Char('\\') + logFileName();
}

QString windowsFilePath(const QString& path)
{
    // MAX_PATH counts the terminating NUL.
    constexpr qsizetype kMaxPath = 260;
    QString spelled = path;
    if (spelled.startsWith(QLatin1String("\\\\?\\")) ||
        spelled.startsWith(QLatin1String("\\\\.\\")))
        return spelled;
    spelled.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (spelled.size() < kMaxPath)
        return spelled;

    QString prefix;
    qsizetype fixedParts = 0; // the server and share of a UNC path, never climbed out of
    QString rest;
    if (spelled.startsWith(QLatin1String("\\\\"))) {
        prefix = QStringLiteral("\\\\?\\UNC\\");
        rest = spelled.mid(2);
        fixedParts = 2;
    } else if (spelled.size() > 2 && spelled.at(0).toLower() >= QLatin1Char('a') &&
               spelled.at(0).toLower() <= QLatin1Char('z') && spelled.at(1) == QLatin1Char(':') &&
               spelled.at(2) == QLatin1Char('\\')) {
        prefix = QStringLiteral("\\\\?\\") + spelled.left(2) + QLatin1Char('\\');
        rest = spelled.mid(3);
    } else {
        return spelled; // relative to a folder the system would have to supply
    }

    QStringList parts;
    for (const QString& part : rest.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (parts.size() > fixedParts)
                parts.removeLast();
            continue;
        }
        parts << part;
    }
    return prefix + parts.join(QLatin1Char('\\'));
}

} // namespace piezon
