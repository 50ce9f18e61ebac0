#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTextEdit;
class QToolBar;
class QWidget;

namespace hollin {

class MailSearchBar;

// The controls of the compose window at their designed places (in twips),
// each with its designed objectName (ToText, SubjectText, rtfEd, Command1 …).
// Only what they look like is set here; WriteForm wires what they do.
class WriteFormLayout {
public:
    // Builds every control as a child of form.
    explicit WriteFormLayout(QWidget *form);

    // In pixels of the form's screen.
    int px(int twips) const;
    // Shows the lines of the copies asked for, one under the other from the
    // body's designed top, and the body below them.
    void showCopies(bool cc, bool bcc) const;

    QLineEdit *toText = nullptr;
    QLineEdit *subjectText = nullptr;
    QComboBox *combo1 = nullptr;
    QTextEdit *rtfEd = nullptr;
    QToolBar *tbToolBar = nullptr;
    QLineEdit *attachText = nullptr;
    QPushButton *attachCommand = nullptr;
    QPushButton *command9 = nullptr;
    QPushButton *command10 = nullptr;
    QPushButton *command16 = nullptr;
    QListWidget *list2 = nullptr;
    QPushButton *command1 = nullptr;
    QPushButton *command3 = nullptr;
    QPushButton *command4 = nullptr;
    QPushButton *command6 = nullptr;
    QPushButton *command5 = nullptr;
    QPushButton *command7 = nullptr;
    QPushButton *command8 = nullptr;
    QPushButton *command17 = nullptr;
    QFrame *picture7 = nullptr;
    QPushButton *command13 = nullptr;
    QPushButton *command14 = nullptr;
    QPushButton *command15 = nullptr;
    QListWidget *list1 = nullptr;
    QLabel *label4 = nullptr;
    QLineEdit *text1 = nullptr;
    MailSearchBar *searchBar = nullptr;
    QFrame *frame1 = nullptr;
    QFrame *frame4 = nullptr;
    QRadioButton *option1 = nullptr;
    QRadioButton *option2 = nullptr;
    QCheckBox *check1 = nullptr;
    // The Cc and Bcc a mailto: link brought, each on a line of its own above the body.
    QLineEdit *ccText = nullptr;
    QLineEdit *bccText = nullptr;
    QLabel *ccLabel = nullptr;
    QLabel *bccLabel = nullptr;
    QLabel *label7 = nullptr;
    QPlainTextEdit *text14 = nullptr;
    QLineEdit *text2 = nullptr;
    QLineEdit *text4 = nullptr;
    QPushButton *command2 = nullptr;
    // The labels beside the recipient, subject and greeting boxes (their hover help).
    QLabel *toLabel = nullptr;
    QLabel *subjectLabel = nullptr;
    QLabel *comboLabel = nullptr;

private:
    static constexpr int BodyTopTwips = 2720;
    static constexpr int BodyBottomTwips = 7020;
    static constexpr int CopyRowTwips = 340;

    void place(QWidget *w, int left, int top, int width, int height) const;
    QPushButton *button(const QString &name, const QString &caption, QWidget *parent = nullptr) const;
    QLabel *label(const QString &name, const QString &caption, QWidget *parent = nullptr) const;

    QWidget *m_form;
};

} // namespace hollin
