#pragma once

#include "gauge/port_mapping.h"

#include <QString>
#include <QStringList>

namespace piezon::texts
{

inline const QString kCaption = QStringLiteral("Пьезон для RX418");
// The title while the gauge's line is open but no reading comes.
inline const QString kSilentCaption = kCaption + QStringLiteral(" — нет данных");
inline const QString kStart = QStringLiteral("СТАРТ");
inline const QString kStop = QStringLiteral("СТОП");
inline const QString kComLabel = QStringLiteral("COM");
inline const QString kOffsetLabel = QStringLiteral("Погрешность");

// Tool tips, blanks included: the operators' printed instructions quote them.
inline const QString kStartTip = QStringLiteral("  (F1)  Начать чтение данных. ");
inline const QString kStopTip = QStringLiteral("  (F2)  Завершить чтение данных. ");
inline const QString kCheckTip =
    QStringLiteral("(F5)(F6) Режим работы log файла. v - запись всех данных,    - запись только "
                   "изменяющихся данных. ");
inline const QString kComboPortTip = QStringLiteral("Введите номер COM порта.");
inline const QString kComboOffsetTip = QStringLiteral("Введите погрешность.");

// The session window: its title follows the main window's.
inline const QString kChartCaption = kCaption + QStringLiteral(" — график");
inline const QString kSilentChartCaption = kChartCaption + QStringLiteral(" — нет данных");

inline const QString kWholeSession = QStringLiteral("Весь сеанс");
inline const QString kNow = QStringLiteral("Сейчас");
inline const QString kFixedScale = QStringLiteral("Шкала 0–8");
inline const QString kResetExtremes = QStringLiteral("Сбросить");
inline const QString kSpanLabel = QStringLiteral("Показать:");
inline const QString kNowTip = QStringLiteral("Вернуться к последним показаниям");
inline const QString kResetTip = QStringLiteral("Начать отсчёт максимума и минимума заново");
inline const QString kExtremeTip =
    QStringLiteral("Двойной щелчок — показать этот момент на графике");

inline const QString kCurrentTitle = QStringLiteral("Показание");
inline const QString kMaximumTitle = QStringLiteral("Максимум");
inline const QString kMinimumTitle = QStringLiteral("Минимум");
inline const QString kSlopeTitle = QStringLiteral("Изменение за 60 с");
inline const QString kDurationTitle = QStringLiteral("Длительность");
inline const QString kCountTitle = QStringLiteral("Показаний");

inline const QString kRunning = QStringLiteral("идёт сеанс");
inline const QString kSilentStatus = QStringLiteral("нет данных");
inline const QString kReconnecting = QStringLiteral("линия потеряна, переподключение…");
inline const QString kFinished = QStringLiteral("сеанс завершён");

inline const QString kPressureUnit = QStringLiteral("кгс/см²");
inline const QString kNoValue = QStringLiteral("—");
// "в 14:05:12, 0:12:34 от СТАРТ": the local time, then the time since START.
inline const QString kExtremeWhen = QStringLiteral("в %1, %2 от СТАРТ");

// The spans the chart can show, in minutes; 0 is the whole session.
inline constexpr int kSpanMinutes[] = {0, 1, 5, 15, 60};
inline QString spanText(int minutes)
{
    return minutes == 0 ? kWholeSession : QStringLiteral("%1 мин").arg(minutes);
}

// The pressure hold.
inline const QString kHoldDuration = QStringLiteral("Длительность");
inline const QString kHoldDrop = QStringLiteral("Допустимое падение, кгс/см²");
inline const QString kHoldFloor = QStringLiteral("Не ниже, кгс/см²");
inline const QString kHoldTarget = QStringLiteral("Испытательное давление, кгс/см²");
inline const QString kHoldDefaultDuration = QStringLiteral("10:00");
inline const QString kHoldDefaultDrop = QStringLiteral("0,2");
inline const QString kHoldBegin = QStringLiteral("Начать испытание");
inline const QString kHoldEnd = QStringLiteral("Прервать");
inline const QString kHoldBeginTip = QStringLiteral("(F8) Начать испытание давлением");
inline const QString kHoldEndTip = QStringLiteral("(F8) Прервать испытание");
inline const QString kOpenProtocol = QStringLiteral("Открыть протокол");
inline const QString kHoldTitle = QStringLiteral("Испытание");
inline const QString kHoldLeftTitle = QStringLiteral("Осталось");
inline const QString kHoldStartTitle = QStringLiteral("Начало");
inline const QString kHoldDropTitle = QStringLiteral("Падение");
inline const QString kHoldLowestTitle = QStringLiteral("Минимум");
inline const QString kHoldRunning = QStringLiteral("идёт");
inline const QString kBadDuration =
    QStringLiteral("Длительность: от 0:10 до 24:00:00, в виде м:сс или ч:мм:сс.");
inline const QString kBadDrop = QStringLiteral("Допустимое падение: число не меньше 0,03 (запятая "
                                               "или точка, не больше двух знаков после неё).");
inline const QString kBadFloor = QStringLiteral(
    "«Не ниже»: число (запятая или точка, не больше двух знаков после неё) или пусто.");
inline const QString kBadTarget =
    QStringLiteral("«Испытательное давление»: число (запятая или "
                   "точка, не больше двух знаков после неё) или пусто.");
inline const QString kHoldNoSession =
    QStringLiteral("Испытание не начато: сеанс не идёт — нажмите СТАРТ (F1).");
inline const QString kHoldLineLost =
    QStringLiteral("Испытание не начато: линия потеряна, идёт переподключение.");
inline const QString kHoldNotLive =
    QStringLiteral("Испытание не начато: нет свежего показания манометра.");
// The start pressure, the target, the unit.
inline const QString kHoldBelowTarget =
    QStringLiteral("Внимание: давление в начале %1 ниже испытательного %2 %3.");
inline const QString kHoldReason = QStringLiteral("%1: %2.");
inline const QString kHoldWriting = QStringLiteral("Протокол записывается…");
inline const QString kHoldWritten = QStringLiteral("Протокол: %1");
inline const QString kHoldClosedNoProtocol =
    QStringLiteral("Протокол не записан: программа закрыта.");
inline const QString kNoPdfViewer =
    QStringLiteral("Не удалось открыть протокол: нет программы для PDF");

// A saved record shown in the session window.
inline const QString kOpenRecord = QStringLiteral("Открыть запись…");
inline const QString kOpenRecordTip =
    QStringLiteral("(Ctrl+O) Показать сохранённую запись; «Сейчас» или F7 — назад к сеансу");
inline const QString kOpenRecordTitle = QStringLiteral("Открыть запись");
inline const QString kRecordFilter = QStringLiteral("Записи показаний (*.csv);;Все файлы (*)");
inline const QString kRecordSessionTip =
    QStringLiteral("Сеансы этой записи по времени СТАРТ, в порядке записи");
inline const QString kRecordSessionReadings = QStringLiteral("Показаний: %1");
inline const QString kRecordShown = QStringLiteral("сохранённая запись");
inline const QString kRecordCancel = QStringLiteral("Отмена");
// The file's name, then the line at fault or the system's reason.
inline const QString kRecordRefused = QStringLiteral("Запись «%1» не открыта: %2.");
inline const QString kRecordMarkFrom = QStringLiteral("с");
inline const QString kRecordMarkTo = QStringLiteral("по");
inline const QString kRecordMarkTip =
    QStringLiteral("Испытание на записи: начало и конец от СТАРТ (м:сс или ч:мм:сс), или "
                   "протяните мышью по графику");
inline const QString kRecordProtocol = QStringLiteral("Протокол по записи");
// The hold's local start, then how its end row reads.
inline const QString kRecordFoundHold = QStringLiteral("%1 — %2");
inline const QString kRecordHoldUnended = QStringLiteral("без строки конца");
inline const QString kRecordMarkedHold = QStringLiteral("Отмеченное: %1 – %2");
inline const QString kRecordNoHolds = QStringLiteral("В этом сеансе нет испытаний");
inline const QString kRecordBadMark = QStringLiteral(
    "Отметьте испытание: протяните мышью по графику или введите начало и конец от СТАРТ.");
inline const QString kRecordJudging = QStringLiteral("Протокол составляется…");
// The file's name, then why.
inline const QString kRecordNoProtocol =
    QStringLiteral("Протокол по записи «%1» не составлен: %2.");
// The file's address.
inline const QString kRecordProtocolWritten =
    QStringLiteral("Протокол записан: <a href=\"%1\">открыть</a>");
inline const QString kRecordNoPort = QStringLiteral("нет в записи");

inline const QString kStartupOffset = QStringLiteral("     0");
inline const QString kStartupPort = QStringLiteral("   1");

// "    30" ... "   -30", six characters each, right-aligned.
inline QStringList offsetItems()
{
    QStringList items;
    for (int v = 30; v >= -30; --v)
        items << QStringLiteral("%1").arg(v, 6);
    return items;
}

// "   1" ... "  16", four characters each, right-aligned.
inline QStringList portItems()
{
    QStringList items;
    for (int n = 1; n <= kPortCount; ++n)
        items << QStringLiteral("%1").arg(n, 4);
    return items;
}

} // namespace piezon::texts
