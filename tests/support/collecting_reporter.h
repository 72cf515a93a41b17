#pragma once

#include "gauge/error_reporter.h"

#include <QStringList>

namespace piezon::testing
{

// Collects the operator's messages instead of showing them. A notice stays in `notices`; whether
// it is still on screen is `noticeShown`.
class CollectingReporter : public ErrorReporter
{
public:
    void report(const QString& message) override { messages << message; }
    // Says «Повторить» as many times as `retries` allows, then gives up.
    bool reportWithRetry(const QString& message) override
    {
        messages << message;
        return retries-- > 0;
    }
    void showNotice(const QString& message) override
    {
        notices << message;
        noticeShown = true;
    }
    void clearNotice() override { noticeShown = false; }

    QStringList messages;
    QStringList notices;
    bool noticeShown = false;
    int retries = 0;
};

} // namespace piezon::testing
