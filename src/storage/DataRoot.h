#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>

namespace hollin {

// The program folder and the tree below it:
//   ★MailData/        ini.ini, Form.ini, iniIdPass.ini, hollin.ini, hlmdata2.data,
//                     hlmdata10.data, hlmdata20.data and their .TMP files,
//                     hlmuidl.txt, hlmmsgid.txt, hlmthread.txt (ThreadIndex),
//                     hlmsent.txt (SentMailFile)
//   画像データ/        panel pictures 1.jpg … 5.jpg
//   添付フォルダ/      extracted attachments, scratch 0.txt
//   顔文字データ/      Kao1.txt
//   ■TextQuickSave/   quick-saved mails
//   hlmail.ini        server settings
// Names are matched without regard to case: an existing entry spelled
// differently is used, otherwise the canonical spelling is created.
class DataRoot {
public:
    DataRoot() = default;
    explicit DataRoot(const QString &rootFolder);

    // --root DIR in args, else $HOLLIN_ROOT, else exeFolder when it holds
    // "★MailData", else $XDG_DATA_HOME/hollin (~/.local/share/hollin).
    static DataRoot locate(const QStringList &args, const QString &exeFolder);

    // Creates every missing folder of the tree.
    bool ensureTree(Error *err = nullptr) const;

    QString root() const { return m_root; }
    bool isNull() const { return m_root.isEmpty(); }

    // Path of a relative name like "★MAilData/Hlmdata10.data", each component
    // matched without regard to case against what exists (canonical spelling otherwise).
    QString resolve(const QString &relative) const;

    QString dataFolder() const;        // ★MailData
    QString iniFile() const;           // ★MailData/ini.ini
    QString formIniFile() const;       // ★MailData/Form.ini
    QString idPassIniFile() const;     // ★MailData/iniIdPass.ini
    QString receivedMailFile() const;  // ★MailData/hlmdata2.data
    QString receivedMailTemp() const;  // ★MailData/HLMDATA2.TMP
    QString uidlListFile() const;      // ★MailData/hlmuidl.txt (ids of stored POP3 messages)
    QString storedMessageListFile() const; // ★MailData/hlmmsgid.txt (keys of stored messages)
    // The lists beside a received-mail file whose pending lines number its
    // records (the UIDL list and the stored-message list); none for any other
    // record file.
    static QStringList pendingListsOf(const QString &recordFile);
    QString heldMailFile() const;      // ★MailData/hlmdata10.data
    QString heldMailTemp() const;      // ★MailData/HLMDATA10.TMP
    QString addressBookFile() const;   // ★MailData/hlmdata20.data
    QString addressBookTemp() const;   // ★MailData/HLMDATA20.TMP
    QString hollinIniFile() const;     // ★MailData/hollin.ini (this program's own settings, UTF-8)
    QString serverSettingsFile() const;// hlmail.ini
    QString pictureFolder() const;     // 画像データ
    QString attachmentFolder() const;  // 添付フォルダ
    QString kaoFolder() const;         // 顔文字データ
    QString quickSaveFolder() const;   // ■TextQuickSave

private:
    QString m_root;
};

} // namespace hollin
