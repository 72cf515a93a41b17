#pragma once

#include "hold/hold_report.h"

#include <QByteArray>
#include <QRectF>
#include <QString>

class QPainter;

namespace piezon
{

// "Пьезон_RX418_испытание_2026-12-08_14-05-12": a protocol's file name without its ending, after
// the local time its hold began.
QString protocolStem(const QDateTime& localStart);

// The protocol page drawn into `page` (an A4 sheet, or its picture), sizes in points of the
// device's own resolution.
void drawProtocol(QPainter& painter, const QRectF& page, const HoldReport& report);

// The one-page A4 PDF, its text real text in the program's own fonts, embedded.
QByteArray protocolPdf(const HoldReport& report);

} // namespace piezon
