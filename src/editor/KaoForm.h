#pragma once

#include "winutil/AppContext.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace hollin {

class OpenComposition;

// "絵・顔文字": an editable palette of face marks kept in "Kao1.txt". The
// selected stretch is inserted into the compose or the reply body; the text
// is saved whenever the palette closes.
class KaoForm : public QWidget {
    Q_OBJECT
public:
    explicit KaoForm(const AppContext &ctx, QWidget *parent = nullptr);

    QPlainTextEdit *palette() const { return m_kao1; }

    void insertIntoNewMail();  // Command1
    void insertIntoReply();    // Command2
    void pasteIntoPalette();   // Command3

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void insertInto(const char *windowClass, const char *bodyName, const QString &windowCaption);
    QString paletteFile() const;

    AppContext m_ctx;
    QPlainTextEdit *m_kao1;
    OpenComposition *m_composition;
    bool m_loaded = false;
};

} // namespace hollin
