#pragma once

class QFrame;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QWidget;

namespace hollin {

// The controls of the reply window at their designed places (in twips), each
// with its designed objectName (ToText, BodyText, Command2 …), and how they
// follow the window's size. BackForm wires what they do.
class BackFormLayout {
public:
    // Builds every control as a child of form.
    explicit BackFormLayout(QWidget *form);

    // Stretches the boxes and moves the buttons beside them to the form's size.
    void fitToForm();
    // The body starts below the attachment list while that is shown, never under it.
    void placeBody();

    QPushButton *send = nullptr;        // Command2
    QPushButton *stop = nullptr;        // Command3
    QPushButton *paste = nullptr;       // Command4
    QPushButton *emoticons = nullptr;   // Command8
    QLineEdit *to = nullptr;            // ToText
    QLineEdit *subject = nullptr;       // SubjectText
    QLineEdit *attach = nullptr;        // AttachText
    QPushButton *attachFirst = nullptr; // AttachCommand
    QPushButton *attachMore = nullptr;  // Command9
    QPushButton *attachClear = nullptr; // Command10
    QListWidget *attachNames = nullptr; // List2
    QPushButton *listToggle = nullptr;  // Command16
    QPushButton *drafts = nullptr;      // Command17
    QFrame *panel = nullptr;            // Picture7
    QPushButton *hold = nullptr;        // Command13
    QPushButton *recall = nullptr;      // Command14
    QPushButton *deleteHeld = nullptr;  // Command15
    QTextEdit *body = nullptr;          // BodyText
    QListWidget *heldList = nullptr;    // List1
    QLineEdit *heldCount = nullptr;     // Text1
    QLineEdit *picked = nullptr;        // Text2: "1" after a held mail was clicked
    QStatusBar *statusBar = nullptr;    // StatusBar1

private:
    QWidget *m_form;
};

} // namespace hollin
