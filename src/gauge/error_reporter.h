#pragma once

#include <QString>

namespace piezon
{

// Where the session's messages to the operator go. The window shows them; tests collect them
// instead of facing a dialog.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    // A failure the operator must acknowledge.
    virtual void report(const QString& message) = 0;
    // A failure the operator can put right and then try again («Повторить»): true if they chose
    // to.
    virtual bool reportWithRetry(const QString& message) = 0;
    // A state the operator should know of while the program goes on (the link is down and being
    // re-established). It must not block; a new notice replaces the one before.
    virtual void showNotice(const QString& message) = 0;
    // The state is over: the notice goes away without the operator's doing.
    virtual void clearNotice() = 0;
};

} // namespace piezon
