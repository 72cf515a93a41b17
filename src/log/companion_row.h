#pragma once

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>

// The companion record: every reading and every event of a session with its time, beside the
// log, as a table a spreadsheet opens by double-click. UTF-8 with a byte-order mark (without it
// a Russian spreadsheet reads the file as Windows-1251), CR LF line ends, ';' between fields
// (what a Russian spreadsheet splits on, where ',' is the decimal separator). The columns:
//   время;мс;байт;показание;погрешность;кгс/см2;событие
// A reading fills the first six, an event the first two and the last.
namespace piezon::companion
{

// The events' texts.
namespace event
{
inline const QString kStart = QStringLiteral("СТАРТ");
inline const QString kStop = QStringLiteral("СТОП");
inline const QString kProgramClosed = QStringLiteral("программа закрыта");
inline const QString kAborted = QStringLiteral("сеанс прерван");
inline const QString kLineLost = QStringLiteral("линия потеряна");
inline const QString kLineBack = QStringLiteral("линия восстановлена");
inline const QString kModeAll = QStringLiteral("режим журнала: все");
inline const QString kModeChanges = QStringLiteral("режим журнала: изменения");
// Followed by the new offset: offsetEvent().
inline const QString kOffset = QStringLiteral("погрешность: ");
} // namespace event

// The byte-order mark and the header line.
QByteArray header();

// The first two fields of every row of one moment: the local time "YYYY-MM-DD HH:MM:SS.mmm" and
// the whole milliseconds since the session's START, each followed by ';'.
QByteArray stamp(const QDateTime& local, qint64 sinceStartMs);

// The rest of a reading's row after the stamp: the raw byte, the corrected reading, the offset
// as a plain number, the caption as shown, an empty event, the line end.
QByteArray readingFields(int byte, int corrected, int offset, const QString& caption);

// A whole event row.
QByteArray eventRow(const QByteArray& stamp, const QString& event);

// "нет данных 4,0 с": how long no reading came, in seconds with one decimal and the caption's
// separator.
QString silenceEvent(qint64 silentMs, QChar separator);

// "погрешность: -5": the offset chosen during a session, as a plain number.
QString offsetEvent(int offset);

// Whether the file's text holds at least one reading's row (not only the header and events).
bool holdsReading(const QByteArray& text);

// The companion of the log at `logPath`: the same folder and name, ".csv" for ".log".
QString pathBeside(const QString& logPath);

} // namespace piezon::companion
