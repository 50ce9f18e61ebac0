#pragma once

#include "winutil/AppContext.h"

#include <QWidget>

class QLineEdit;

namespace hollin {

// The new-mail notice board "新着お知らせボード": Text1 the sentence, Text2 the count.
// Shown without being activated, in the corner of the screen away from the
// active window: the keyboard and the line being typed stay where they are.
class MsgForm : public QWidget {
    Q_OBJECT
public:
    explicit MsgForm(const AppContext &ctx, QWidget *parent = nullptr);

    // Fills Text1 "新着メールがあります。" and Text2 with the count, and shows the board.
    void showNotice(int count);

    QLineEdit *text1() const { return m_text1; }
    QLineEdit *text2() const { return m_text2; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    AppContext m_ctx;
    QLineEdit *m_text1;
    QLineEdit *m_text2;
};

} // namespace hollin
