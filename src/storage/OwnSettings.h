#pragma once

#include "Error.h"

#include <QString>

namespace hollin {

// Settings that only this program has, kept apart from the files the Windows
// version shares (★MailData/hollin.ini, UTF-8, [sender] and [account]):
//   sender/name       差出人名, the display name in From ("" = bare address)
//   sender/signature  signature put below the body of new mail and replies
//   account/keepPasswordInFile  the user answered "no" to moving the saved
//                     password into the keyring: not asked again
//   account/passwordInKeyring   the saved password is in the keyring (only
//                     then is the keyring asked for it)
class OwnSettings {
public:
    explicit OwnSettings(const QString &path);

    QString senderName() const;
    QString signature() const;
    bool keepPasswordInFile() const;
    bool passwordInKeyring() const;

    bool writeSender(const QString &name, const QString &signature, Error *err);
    bool writeKeepPasswordInFile(bool keep, Error *err);
    bool writePasswordInKeyring(bool inKeyring, Error *err);

private:
    QString m_path;
};

} // namespace hollin
