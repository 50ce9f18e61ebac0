#include "SenderBox.h"

#include "storage/OwnSettings.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

using namespace Qt::StringLiterals;

namespace hollin {

SenderBox::SenderBox(const QString &ownSettingsFile, QWidget *parent)
    : QGroupBox(u"差出人"_s, parent)
    , m_path(ownSettingsFile)
{
    setObjectName(u"SenderFrame"_s);
    const OwnSettings settings(m_path);
    m_name = new QLineEdit(settings.senderName(), this);
    m_name->setObjectName(u"SenderNameText"_s);
    m_name->setPlaceholderText(u"例: 山田 太郎（空なら、アドレスだけで送ります）"_s);
    m_signature = new QPlainTextEdit(settings.signature(), this);
    m_signature->setObjectName(u"SignatureText"_s);
    m_signature->setPlaceholderText(u"新規メールと返信の本文の下に入ります（空なら入りません）"_s);
    m_signature->setTabChangesFocus(true);
    m_signature->setFixedHeight(m_signature->fontMetrics().lineSpacing() * 5);
    auto *layout = new QFormLayout(this);
    layout->addRow(u"差出人名"_s, m_name);
    layout->addRow(u"署名"_s, m_signature);
}

bool SenderBox::write(Error *err) const
{
    return OwnSettings(m_path).writeSender(m_name->text().trimmed(), m_signature->toPlainText(), err);
}

} // namespace hollin
