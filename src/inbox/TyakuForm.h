#pragma once

#include "winutil/AppContext.h"
#include "winutil/ListedFile.h"

#include <QMainWindow>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTableView;
class QTextEdit;
class QToolBar;

namespace hollin {

class InboxListModel;
class MailSearchBar;
class SentMailPanel;
struct SentCopy;
class SearchFilterModel;

// The inbox "着信履歴": the list of received mail (MailListView), the shown
// mail in Text7 (subject), Text8 (sender), Text9 (date) and the body rtfEd,
// the mail count Text2, and the commands Command1 … Command8.
// Constructing it is the window's load step.
class TyakuForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TyakuForm(const AppContext &ctx, QWidget *parent = nullptr);
    ~TyakuForm() override;

    // What the view-mail button does: hide the floating windows, refill the
    // list from the received-mail file, show the window.
    void fillAndShow();

    // The receive session's staging: puts one received mail into the boxes
    // and the body (showing the window when it is hidden).
    void showReceived(const QString &subject, const QString &from, const QString &date,
                      const QString &body);

    // The body and the toolbar of the editing commands. Each toolbar action's
    // objectName is its key ("New", "Open", "Save", "Print", "Cut", "Copy",
    // "Paste", "Bold", "Italic", "Underline").
    QTextEdit *rtfEd() const { return m_body; }
    QToolBar *toolBar() const { return m_toolBar; }

    // Refills the list, the count and the boxes from the received-mail file
    // (the window stays as it is); the selection is gone with the old rows.
    void fill();
    // The same after records were appended (an automatic receive): the
    // selected record stays selected and the boxes keep the mail being read.
    void fillKeepingShownMail();

    // The header block of the shown mail ("Subject:  …" CR LF … "Body:  " + body).
    QString headerBlock() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void nameForScreenReaders();
    void applyLayout();
    void setColumnWidths();
    // Reads the list and the count from the received-mail file; the number of rows.
    int reload();
    void showRow(const QModelIndex &index);
    void setCount(int rows);
    void showInBoxes(const QString &subject, const QString &from, const QString &date,
                     const QString &body);
    bool takeSelection();
    // False (and the user told) when the list was read again since fills.
    bool listedSince(int fills);
    void deleteOne();
    void deleteAll();
    void quickSave();
    void copyBox();
    void registerSender();
    void reply();
    // SentToggle: the list shows the kept copies of sent mail instead, or the received mail again.
    void showSentMail(bool sent);
    void resend(const SentCopy &copy);
    void setHelp(const QString &text);
    void hideHelp(bool empty);
    void setCopyColour(const QColor &colour);

    AppContext m_ctx;
    InboxListModel *m_model;
    SearchFilterModel *m_filter;      // the rows a search found, or all
    QTableView *m_list = nullptr;
    QLineEdit *m_subject = nullptr;   // Text7
    QLineEdit *m_from = nullptr;      // Text8
    QLineEdit *m_date = nullptr;      // Text9
    QTextEdit *m_body = nullptr;      // rtfEd
    QLineEdit *m_count = nullptr;     // Text2
    QLineEdit *m_marker = nullptr;    // Text5
    QTextEdit *m_help = nullptr;      // Text4
    QLineEdit *m_copyBox = nullptr;   // Text6
    QPushButton *m_sentToggle = nullptr; // SentToggle (送信済み)
    SentMailPanel *m_sent = nullptr;  // in the list's place while SentToggle is down
    MailSearchBar *m_searchBar = nullptr;
    QLineEdit *m_search = nullptr;    // Text1, the search word
    QPushButton *m_commands[9] = {};  // Command1 … Command8 at 1 … 8
    QStatusBar *m_statusBar = nullptr;
    QToolBar *m_toolBar = nullptr;
    QWidget *m_picture = nullptr;     // Picture1(1)
    QWidget *m_central = nullptr;
    ListedFile m_listed;          // the received-mail file as the list shows it
    int m_selectedRow = -1;       // the highlighted row, which the boxes show
    bool m_filledByLoad = false;  // the load step has just filled the list
    int m_fills = 0;              // times the list was read
    bool m_reading = false;       // the list is being read
    bool m_readAgain = false;     // and is to be read again once it is
    bool m_reselecting = false;   // selecting the kept row again, which shows nothing anew
    QString m_shownDigest;        // ThreadIndex::digest() of the record in the boxes, else empty
    QString m_digestError;        // why the shown record has no digest, told at a reply
};

} // namespace hollin
