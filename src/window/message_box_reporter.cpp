#include "window/message_box_reporter.h"

#include "window/console_text.h"
#include "window/texts.h"

#include <QMessageBox>
#include <QPushButton>

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

bool MessageBoxReporter::reportWithRetry(const QString& message)
{
    console::diagnostic(message);
    QMessageBox box(QMessageBox::Critical, texts::kCaption, message, QMessageBox::NoButton,
                    m_parent);
    QPushButton* retry = box.addButton(QStringLiteral("Повторить"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(retry);
    box.exec();
    return box.clickedButton() == retry;
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
