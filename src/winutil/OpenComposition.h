#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

namespace hollin {

// What an input method is still composing in a window's text boxes (the
// kana not yet converted). A window that reads its boxes as it closes calls
// commit() first, so that the composition counts as typed instead of being
// dropped: each box with one gets it as committed text, as if the user had
// pressed Enter, and the input method starts afresh.
class OpenComposition : public QObject {
    Q_OBJECT
public:
    // Watches every text box of window (line edits, text edits, spin boxes).
    explicit OpenComposition(QWidget *window);

    void commit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QHash<QObject *, QString> m_preedit; // box → what is being composed there
};

} // namespace hollin
