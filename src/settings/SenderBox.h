#pragma once

#include "storage/Error.h"

#include <QGroupBox>

class QLineEdit;
class QPlainTextEdit;

namespace hollin {

// "差出人" in the settings window: SenderNameText, the name sent with the
// address in From, and SignatureText, put below the body of new mail and
// replies. Loaded from hollin.ini when made; written when the window closes.
class SenderBox : public QGroupBox {
    Q_OBJECT
public:
    SenderBox(const QString &ownSettingsFile, QWidget *parent);

    bool write(Error *err) const;

private:
    QString m_path;
    QLineEdit *m_name;
    QPlainTextEdit *m_signature;
};

} // namespace hollin
