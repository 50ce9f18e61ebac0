#include "addressbook/AddressBookList.h"

#include "storage/Cp932.h"
#include "storage/TextUtil.h"

using namespace Qt::StringLiterals;

namespace hollin {

QString AddressBookList::unregisteredQuestion()
{
    return u"登録していない名前・メールアドレスがあります。"_s;
}

AddressBookList::AddressBookList(const DataRoot &root)
    : m_file(root.addressBookFile(), root.addressBookTemp())
{
}

bool AddressBookList::rows(QList<Row> *out, Error *err) const
{
    out->clear();
    return m_file.readAll([out](int, const AddressEntry &e) {
        out->append(Row{trimTrailingSpaces(cutAtNul(e.address)), trimTrailingSpaces(cutAtNul(e.name))});
        return true;
    }, err);
}

bool AddressBookList::entry(int n, AddressEntry *out, Error *err) const
{
    AddressEntry e;
    if (!m_file.read(n, &e, err))
        return false;
    out->name = trimSpaces(e.name);
    out->address = trimSpaces(e.address);
    return true;
}

namespace {

bool fits(const QString &text, const QString &field, int width, Error *err)
{
    const qsizetype bytes = Cp932::encodedSize(text);
    if (bytes <= width)
        return true;
    return fail(err, u"%1が長すぎるため登録できません（%2 バイトあります。登録できるのは %3 バイト、"
                     u"全角なら %4 文字までです）。"_s
                         .arg(field).arg(bytes).arg(width).arg(width / 2));
}

} // namespace

int AddressBookList::add(const QString &name, const QString &address, Error *err)
{
    const AddressEntry entry{Cp932::storable(name), Cp932::storable(address)};
    if (!fits(entry.address, u"メールアドレス"_s, AddressBookFile::AddressWidth, err)
        || !fits(entry.name, u"名前"_s, AddressBookFile::NameWidth, err))
        return -1;
    return m_file.append(entry, err);
}

bool AddressBookList::remove(int n, bool confirmed, Error *err)
{
    if (confirmed)
        return m_file.deleteEntry(n, err);
    return m_file.compact(err);
}

AddressBookList::CardResult AddressBookList::businessCard(const QString &card, const QString &address)
{
    if (address.isEmpty())
        return {address, u"メールアドレスが入力されていません"_s};
    if (card.isEmpty())
        return {address, u"名詞が入力されていません"_s};
    return {AddressBookFile::businessCardForm(card, address), {}};
}

} // namespace hollin
