#pragma once

#include "gauge/gauge_session.h"
#include "support/collecting_reporter.h"
#include "support/pty_pair.h"
#include "window/form1.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace piezon::testing
{

// A window in a folder of its own, with COM1 wired to a pseudo-terminal the test plays the gauge
// on.
struct WindowSession {
    explicit WindowSession(QLocale locale = QLocale::c(), PortNaming naming = {})
    {
        if (!dir.isValid() || !line.isValid())
            return;
        QFile::link(line.slavePath(), dir.filePath(QStringLiteral("COM1")));
        Form1::Environment env;
        env.programDir = dir.path();
        env.reporter = &reporter;
        env.locale = locale;
        env.naming = std::move(naming);
        form = std::make_unique<Form1>(env);
    }

    QString logPath() const { return dir.filePath(QStringLiteral("Пьезон_RX418.log")); }

    QByteArray logBytes() const
    {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    bool running() const { return form->MSComm1().isRunning(); }
    QString companionPath() const { return dir.filePath(QStringLiteral("Пьезон_RX418.csv")); }
    // The companion record's rows after its header, each split into its seven fields.
    QList<QStringList> companionRows() const
    {
        QFile f(companionPath());
        QList<QStringList> rows;
        if (!f.open(QIODevice::ReadOnly))
            return rows;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            if (!lines[i].isEmpty())
                rows << lines[i].split(QLatin1Char(';'));
        }
        return rows;
    }
    // The event column of the rows that are events, in order.
    QStringList companionEvents() const
    {
        QStringList events;
        for (const QStringList& row : companionRows()) {
            if (row.size() == 7 && !row[6].isEmpty())
                events << row[6];
        }
        return events;
    }

    // START as a click, then until the port has opened and the session begun, or START has
    // failed: the port opens on a thread of its own.
    void start()
    {
        form->Command1_Click();
        settle();
    }
    bool settle(int timeoutMs = 10000)
    {
        return QTest::qWaitFor([this] { return !form->MSComm1().isOpening(); }, timeoutMs);
    }

    QTemporaryDir dir;
    PtyPair line;
    CollectingReporter reporter;
    std::unique_ptr<Form1> form;
};

} // namespace piezon::testing
