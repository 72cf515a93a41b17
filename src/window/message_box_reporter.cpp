#include "window/message_box_reporter.h"

#include "window/console_text.h"
#include "window/texts.h"

#include <QMessageBox>

namespace piezon
{

MessageBoxReporter::~MessageBoxReporter()
{
    delete m_notice.data();
}

void MessageBoxReporter::report(const QString& message)
{
    console::diagnostic(message);
    QMessageBox::critical(m_parent, texts::kCaption, message);
}

void MessageBoxReporter::showNotice(const QString& message)
{
    console::diagnostic(message);
    clearNotice();
    auto* box =
        new QMessageBox(QMessageBox::Warning, texts::kCaption, message, QMessageBox::Ok, m_parent);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    m_notice = box;
    box->show();
}

void MessageBoxReporter::clearNotice()
{
    if (m_notice)
        m_notice->close();
}

} // namespace piezon
