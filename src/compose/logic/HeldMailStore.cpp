#include "HeldMailStore.h"

#include "storage/Cp932.h"
#include "storage/TextUtil.h"

using namespace Qt::StringLiterals;

namespace hollin {

HeldMailStore::HeldMailStore(const DataRoot &root)
    : m_file(root.heldMailFile(), root.heldMailTemp())
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

int HeldMailStore::hold(const HeldMail &mail, Error *err)
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
    return m_file.append(record, err);
}

bool HeldMailStore::list(QList<HeldListRow> *rows, Error *err) const
{
    rows->clear();
    return m_file.readAllHeads([rows](int n, const MailRecord &record) {
        rows->append(HeldListRow{n, cutAtNul(record.subject)});
        return true;
    }, err);
}

bool HeldMailStore::load(int recordNumber, HeldMail *out, Error *err) const
{
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
    return m_file.deleteRecord(recordNumber, err);
}

int HeldMailStore::count(Error *err) const
{
    return m_file.count(err);
}

} // namespace hollin
