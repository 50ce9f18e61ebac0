// addr list | add NAME ADDRESS | delete N on the address book.
#include "Command.h"

#include "storage/AddressBookFile.h"
#include "storage/Cp932.h"

using namespace Qt::StringLiterals;

namespace hollin {

namespace {

// Says what an entry loses on its way into the file: characters without a
// CP932 form, and bytes beyond the field.
void warnAboutFit(const QString &label, const QString &text, int width)
{
    bool replaced = false;
    bool cut = false;
    Cp932::encodeField(text, width, &replaced, &cut);
    if (replaced)
        cli::printError(u"%1に保存できない文字があったため「?」に置き換えました。"_s.arg(label));
    if (cut)
        cli::printError(u"%1が %2 バイトを超えたため、超えた分を切り捨てました。"_s.arg(label).arg(width));
}

int runAddr(const QStringList &args, AppState &state)
{
    AddressBookFile book(state.root.addressBookFile(), state.root.addressBookTemp());
    Error err;
    const QString sub = args.value(0);

    if (sub == u"list" && args.size() == 1) {
        QStringList lines;
        if (!book.readAll([&](int n, const AddressEntry &e) {
                lines << QString::number(n) + u'\t' + cli::listField(e.name) + u'\t' + cli::listField(e.address);
                return true;
            }, &err))
            return cli::failed(err);
        for (const QString &line : std::as_const(lines))
            cli::print(line);
        return cli::Ok;
    }
    if (sub == u"add" && args.size() == 3) {
        const AddressEntry entry{args.at(1), args.at(2)};
        const int n = state.root.ensureTree(&err) ? book.append(entry, &err) : -1;
        if (n < 0)
            return cli::failed(err);
        warnAboutFit(u"名前"_s, entry.name, AddressBookFile::NameWidth);
        warnAboutFit(u"アドレス"_s, entry.address, AddressBookFile::AddressWidth);
        cli::print(QString::number(n));
        return cli::Ok;
    }
    if (sub == u"delete" && args.size() == 2) {
        int n = 0;
        if (!state.root.ensureTree(&err)
            || !cli::recoverKeepingNumbers(book.path(), [&](Error *e) { return book.recoverInterruptedCompaction(e); },
                                        u"アドレス帳"_s, &err))
            return cli::failed(err);
        const int count = book.count(&err);
        if (count < 0 || !cli::parseRecordNumber(args.at(1), count, &n, &err) || !book.deleteEntry(n, &err))
            return cli::failed(err);
        return cli::Ok;
    }
    return cli::badUsage(u"使い方: hollin-cli addr list | addr add 名前 アドレス | addr delete 番号"_s);
}

} // namespace

CliCommand addrCommand() { return {u"addr"_s, u"list | add NAME ADDRESS | delete N"_s, runAddr}; }

} // namespace hollin
