#include "HeldMailStore.h"

#include "storage/FileIo.h"

#include "storage/Cp932.h"
#include "storage/DataFolderLock.h"
#include "storage/TextUtil.h"

#include <QFileInfo>

#include <QStringList>

using namespace Qt::StringLiterals;

namespace hollin {

HeldMailStore::HeldMailStore(const DataRoot &root)
    : m_file(root.heldMailFile(), root.heldMailTemp()), m_extras(root.heldMailFile())
{
}

QString HeldMailStore::emptySubjectMessage()
{
    return u"件名が空白です。保存出来ません。"_s;
}

QString HeldMailStore::holdQuestion()
{
    return u"作成したメールを保留し（保存）後で送信しますか？ 保存後、内容をクリアします。"_s;
}

QString HeldMailStore::tooLongQuestion()
{
    return u"本文が長すぎるため、32000バイトを超える部分は保存されません。保存しますか？"_s;
}

QString HeldMailStore::longSubjectQuestion()
{
    return u"件名が長すぎるため、100バイトを超える部分は保存されません。保存しますか？"_s;
}

QString HeldMailStore::noSelectionMessage()
{
    return u"データが選択されていません"_s;
}

QString HeldMailStore::deleteQuestion()
{
    return u"選択された（行、青色）データを削除します。よろしいですか"_s;
}

QString HeldMailStore::notSentFromReply(const HeldMail &mail)
{
    QStringList kept;
    if (mail.wholeBook)
        kept << u"「一括送信」（アドレス帳の全員に送信）の指定"_s;
    if (!mail.cc.isEmpty() || !mail.bcc.isEmpty())
        kept << u"Cc・Bcc"_s;
    if (kept.isEmpty())
        return {};
    const QString what = kept.join(u'と');
    return u"このメールは%1つきで保留したものです。「返事を書く」画面では%1を使わず、宛先欄のアドレスにだけ送信します。"
           u"%1のとおりに送るときは、「新規作成」画面の「下書き」から呼び出して下さい。"_s.arg(what);
}

bool HeldMailStore::subjectMissing(const QString &subjectText)
{
    return subjectText.isEmpty();
}

bool HeldMailStore::bodyTooLong(const QString &bodyText)
{
    const QString body = trimSpaces(bodyText);
    // Each character takes at most two bytes: only long texts need encoding.
    if (body.size() * 2 <= MailRecordFile::BodyWidth)
        return false;
    return Cp932::encode(body).size() > MailRecordFile::BodyWidth;
}

bool HeldMailStore::subjectTooLong(const QString &subjectText)
{
    return Cp932::encodedSize(trimSpaces(subjectText)) > MailRecordFile::SubjectWidth;
}

int HeldMailStore::hold(const HeldMail &mail, Error *err, Error *extrasErr)
{
    // A cut recipient list would lose addresses, or end in half of one.
    const qsizetype toBytes = Cp932::encode(trimSpaces(mail.to)).size();
    if (toBytes > MailRecordFile::AddressWidth) {
        fail(err, u"宛先が長すぎるため保留できません（%1 バイトあります。保留できるのは %2 バイト、"
                  u"全角なら %3 文字までです）。宛先を減らしてください。"_s
                      .arg(toBytes).arg(MailRecordFile::AddressWidth).arg(MailRecordFile::AddressWidth / 2));
        return -1;
    }
    MailRecord record;
    record.subject = Cp932::storable(trimSpaces(mail.subject));
    record.address = Cp932::storable(trimSpaces(mail.to));
    record.body = Cp932::storable(trimSpaces(mail.body));
    // The record and its extras are written as one.
    DataFolderLock lock(QFileInfo(m_file.path()).absolutePath(), u"保留"_s);
    if (!lock.take(err))
        return -1;
    const int n = m_file.append(record, err);
    if (n < 0)
        return -1;
    HeldMail stored;
    Error extras;
    if (!loadRecord(n, &stored, &extras) || !m_extras.put(n, stored, mail, &extras) || extras.isSet()) {
        if (extrasErr)
            *extrasErr = extras;
    }
    return n;
}

bool HeldMailStore::list(QList<HeldListRow> *rows, Error *err) const
{
    rows->clear();
    return m_file.readAllHeads([rows](int n, const MailRecord &record) {
        rows->append(HeldListRow{n, cutAtNul(record.subject)});
        return true;
    }, err);
}

bool HeldMailStore::load(int recordNumber, HeldMail *out, Error *err, Error *extrasErr) const
{
    if (!loadRecord(recordNumber, out, err))
        return false;
    Error extras;
    if (!m_extras.get(recordNumber, out, &extras) && extrasErr)
        *extrasErr = extras;
    return true;
}

bool HeldMailStore::loadRecord(int recordNumber, HeldMail *out, Error *err) const
{
    *out = HeldMail();
    MailRecord record;
    if (!m_file.read(recordNumber, &record, err))
        return false;
    out->to = trimSpaces(cutAtNul(record.address));
    out->subject = trimSpaces(cutAtNul(record.subject));
    out->body = trimSpaces(cutAtNul(record.body));
    return true;
}

bool HeldMailStore::remove(int recordNumber, Error *err)
{
    DataFolderLock lock(QFileInfo(m_file.path()).absolutePath(), u"保留メールの削除"_s);
    if (!lock.take(err))
        return false;
    HeldMail stored;
    if (!loadRecord(recordNumber, &stored, err) || !m_file.deleteRecord(recordNumber, err))
        return false;
    // A list left as it was harms nothing: its entries match mails by content.
    m_extras.drop(recordNumber, stored, nullptr);
    return true;
}

bool HeldMailStore::removeAll(Error *err)
{
    DataFolderLock lock(QFileInfo(m_file.path()).absolutePath(), u"保留メールの削除"_s);
    if (!lock.take(err) || !m_file.deleteAll(err))
        return false;
    // Left behind, the list would give its extras to the next mail held with the same text.
    return !QFileInfo::exists(m_extras.path()) || fileio::remove(m_extras.path(), err);
}

int HeldMailStore::count(Error *err) const
{
    return m_file.count(err);
}

} // namespace hollin
