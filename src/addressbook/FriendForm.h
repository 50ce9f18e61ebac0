#pragma once

#include "addressbook/AddressBookList.h"
#include "winutil/AppContext.h"
#include "winutil/ListedFile.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace hollin {

// "アドレス帳": type or paste an address and a name, optionally turn the address
// into business-card form, register it, select and delete entries. The
// constructor is the window's load step.
class FriendForm : public QWidget {
    Q_OBJECT
public:
    explicit FriendForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~FriendForm() override;

    // The inbox's register command: the sender goes into the address box and the
    // window is shown (not modal); the floating button windows stay as they are.
    void showWithAddress(const QString &sender);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void placeHelpBox();
    void refreshList();       // Command2's click action
    void selectEntry();       // mouse press in MailListView
    void registerEntry();     // Command3
    void deleteEntry();       // Command4
    void insertBusinessCard(); // Command38
    void pasteInto(QLineEdit *box);
    int selectedRecord() const;
    AddressBookList::Typed typed() const;
    void settle() { m_settled = typed(); }
    // Before the boxes are replaced: true when nothing typed is lost or the user agreed.
    bool mayReplaceTyped();
    // Shows a failure of the address-book file once; false when there was one.
    bool report(const Error &err);

    AppContext m_ctx;
    AddressBookList m_book;
    ListedFile m_listed; // the address book as the list shows it
    AddressBookList::Typed m_settled; // the boxes as last registered, selected or filled by the program

    QLineEdit *m_address = nullptr;   // Text4
    QLineEdit *m_name = nullptr;      // Text2
    QLineEdit *m_card = nullptr;      // Text50
    QLineEdit *m_count = nullptr;     // Text3
    QPushButton *m_pasteAddress = nullptr; // Command1
    QPushButton *m_pasteName = nullptr;    // Command5
    QPushButton *m_cardButton = nullptr;   // Command38
    QPushButton *m_register = nullptr;     // Command3
    QPushButton *m_delete = nullptr;       // Command4
    QPushButton *m_refresh = nullptr;      // Command2
    QTreeWidget *m_list = nullptr;    // MailListView
    QPlainTextEdit *m_help = nullptr; // Text5
    QLabel *m_status = nullptr;       // Label7
};

} // namespace hollin
