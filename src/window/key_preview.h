#pragma once

#include <QObject>

namespace piezon
{

class Form1;

// Lets the window see every key press before the focused control does, as the operator's
// function keys must work wherever the focus is. The key is never swallowed.
class KeyPreview : public QObject
{
    Q_OBJECT
public:
    explicit KeyPreview(Form1* form);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Form1* m_form;
};

} // namespace piezon
