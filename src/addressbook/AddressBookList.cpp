#include "addressbook/AddressBookList.h"

#include "storage/TextUtil.h"

using namespace Qt::StringLiterals;

namespace hollin {

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

int AddressBookList::add(const QString &name, const QString &address, Error *err)
{
    return m_file.append(AddressEntry{name, address}, err);
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
