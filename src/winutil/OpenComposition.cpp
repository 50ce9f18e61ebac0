#include "OpenComposition.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include <utility>

namespace hollin {

OpenComposition::OpenComposition(QWidget *window) : QObject(window)
{
    const auto boxes = window->findChildren<QWidget *>();
    for (QWidget *box : boxes)
        if (qobject_cast<QLineEdit *>(box) || qobject_cast<QTextEdit *>(box) || qobject_cast<QPlainTextEdit *>(box))
            box->installEventFilter(this);
}

bool OpenComposition::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::InputMethod)
        m_preedit.insert(watched, static_cast<QInputMethodEvent *>(event)->preeditString());
    else if (event->type() == QEvent::Destroy)
        m_preedit.remove(watched);
    return QObject::eventFilter(watched, event);
}

void OpenComposition::commit()
{
    const QHash<QObject *, QString> open = std::exchange(m_preedit, {});
    bool committed = false;
    for (auto it = open.cbegin(); it != open.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        QInputMethodEvent done;
        done.setCommitString(it.value());
        QCoreApplication::sendEvent(it.key(), &done);
        committed = true;
    }
    // Taken in by the boxes: the input method must not deliver it a second time.
    if (committed)
        QGuiApplication::inputMethod()->reset();
}

} // namespace hollin
