#pragma once

#include <QObject>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace hollin {

// The attachments of a window that writes mail (compose and reply alike): the
// paths joined by ',' (AttachText), their file names (List2), and the buttons
// that attach the first file (AttachCommand), add one (Command9) and clear the
// list (Command10). While files are listed the first-file button is off, so
// that nothing replaces the list but the clear button.
class AttachmentPanel : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *paths;
        QListWidget *names;
        QPushButton *first;
        QPushButton *more;
        QPushButton *clear;
    };
    AttachmentPanel(QWidget *window, const Controls &controls);

    void attachFirst();
    void attachMore();
    void clear();
    // The paths joined by ','.
    QString paths() const;
    // Lists the paths given in place of the ones listed.
    void show(const QString &paths);

private:
    // Whether paths may go with the mail (regular files within the size
    // limit); if not, the user is told why, at once rather than at sending.
    bool accepts(const QStringList &paths) const;

    QWidget *m_window;
    Controls m_c;
};

} // namespace hollin
