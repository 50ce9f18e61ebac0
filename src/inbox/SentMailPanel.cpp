#include "SentMailPanel.h"

#include <QHeaderView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace hollin {

SentMailPanel::SentMailPanel(const QString &sentFile, QWidget *parent)
    : QWidget(parent), m_sentFile(sentFile), m_model(new QStandardItemModel(this)), m_list(new QTableView(this)),
      m_resend(new QPushButton(u"再送信"_s, this))
{
    setObjectName(u"SentMailPanel"_s);
    m_list->setObjectName(u"SentList"_s);
    m_list->setAccessibleName(u"送信済みメールの一覧"_s);
    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_resend->setObjectName(u"ResendCommand"_s);
    m_resend->setEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    layout->addWidget(m_resend, 0, Qt::AlignLeft);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const SentCopy *copy = selected();
        m_resend->setEnabled(copy != nullptr);
        if (copy)
            emit copySelected(*copy);
    });
    connect(m_resend, &QPushButton::clicked, this, [this] {
        if (const SentCopy *copy = selected())
            emit resendRequested(*copy);
    });
}

bool SentMailPanel::reload(Error *err)
{
    m_model->clear();
    m_model->setHorizontalHeaderLabels({u"宛先"_s, u"件名"_s, u"送信日時"_s});
    const bool ok = SentCopies::readAll(m_sentFile, &m_copies, err);
    if (!ok)
        m_copies.clear();
    for (qsizetype i = m_copies.size() - 1; i >= 0; --i) {
        const SentCopy &copy = m_copies.at(i);
        m_model->appendRow({new QStandardItem(copy.to), new QStandardItem(copy.subject),
                            new QStandardItem(copy.sentAtText())});
    }
    m_resend->setEnabled(false);
    return ok;
}

const SentCopy *SentMailPanel::selected() const
{
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    return &m_copies.at(m_copies.size() - 1 - rows.first().row());
}

} // namespace hollin
