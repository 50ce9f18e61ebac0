#pragma once

#include "storage/AddressBookFile.h"
#include "storage/DataRoot.h"

#include <QList>

namespace hollin {

// What the address-book window does with the address-book file, without the window.
class AddressBookList {
public:
    // One list line: each text cut at its first NUL, without the record's
    // trailing space padding (the stored bytes keep it).
    struct Row {
        QString address;
        QString name;
    };

    explicit AddressBookList(const DataRoot &root);

    // The name and address boxes of the window: what was typed there and is
    // neither registered nor what the program put in is asked about before
    // it is replaced or the window closes.
    struct Typed {
        QString name;
        QString address;
        friend bool operator==(const Typed &, const Typed &) = default;
    };
    static bool isUnregistered(const Typed &now, const Typed &settled)
    {
        return (!now.name.isEmpty() || !now.address.isEmpty()) && !(now == settled);
    }
    // "登録していない名前・メールアドレスがあります。"
    static QString unregisteredQuestion();

    // Every entry in record order (an absent file is created empty).
    bool rows(QList<Row> *out, Error *err) const;
    // Entry n (1-based) with the spaces around name and address removed.
    bool entry(int n, AddressEntry *out, Error *err) const;
    // Stores name and address as typed (duplicates allowed), each character
    // CP932 lacks as 〓; the new record number, or -1. A name or address
    // longer than its 90-byte field is refused with its byte count, never cut.
    int add(const QString &name, const QString &address, Error *err);
    // Removes entry n when confirmed; the file is compacted either way.
    bool remove(int n, bool confirmed, Error *err);

    // The business-card insert: "card<address>" with the address trimmed, or
    // the message that refuses it (nothing typed in one of the boxes).
    struct CardResult {
        QString address;
        QString refusal;
    };
    static CardResult businessCard(const QString &card, const QString &address);

private:
    AddressBookFile m_file;
};

} // namespace hollin
