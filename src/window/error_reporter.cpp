#include "window/error_reporter.h"

#include <QMessageBox>
#include <cstdio>

namespace piezon
{

void MessageBoxReporter::report(const QString& message)
{
    // Also on stderr, so that an operator who started us from a terminal keeps a trace.
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    QMessageBox::critical(m_parent, QStringLiteral("Пьезон для RX418"), message);
}

} // namespace piezon
