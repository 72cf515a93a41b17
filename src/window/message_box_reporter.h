#pragma once

#include "gauge/error_reporter.h"

#include <QPointer>

class QMessageBox;
class QWidget;

namespace piezon
{

// Failures in a modal message box, notices in one that neither blocks the window nor takes the
// keyboard from it (F2 must still reach the window). Both also on stderr, so that an operator
// who started us from a terminal keeps a trace.
class MessageBoxReporter : public ErrorReporter
{
public:
    explicit MessageBoxReporter(QWidget* parent) : m_parent(parent) {}
    ~MessageBoxReporter() override;
    void report(const QString& message) override;
    bool reportWithRetry(const QString& message) override;
    void showNotice(const QString& message) override;
    void clearNotice() override;

private:
    QWidget* m_parent;
    QPointer<QMessageBox> m_notice;
};

} // namespace piezon
