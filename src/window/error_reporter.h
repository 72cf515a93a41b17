#pragma once

#include <QString>

class QWidget;

namespace piezon
{

// Where the program's error messages go. The window shows them in a message box; tests collect
// them instead of facing a modal dialog.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    virtual void report(const QString& message) = 0;
};

class MessageBoxReporter : public ErrorReporter
{
public:
    explicit MessageBoxReporter(QWidget* parent) : m_parent(parent) {}
    void report(const QString& message) override;

private:
    QWidget* m_parent;
};

} // namespace piezon
