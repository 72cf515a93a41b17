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
