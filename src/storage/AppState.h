#pragma once

#include "DataRoot.h"

#include <QString>

namespace hollin {

// The program-wide values, one object handed to every window and flow.
struct AppState {
    DataRoot root;

    // Server and account values: loaded at start-up from hlmail.ini and
    // iniIdPass.ini, replaced by the server and account dialogs.
    QString smtpServer;
    QString pop3Server;
    QString mailAddress;
    qint16 apopFlag = 0;
    QString accountId;
    QString accountPassword;
    // The account was typed without saving it: it serves every receive of
    // this run in place of the account file, and is never written.
    bool accountUnsaved = false;

    // Window state shared by compose, reply and address book.
    qint16 sideListMode = 0;         // 10 = side lists show held mail, 0 = address book, 1 = set by the inbox
    qint16 heldPanelToggleCount = 0; // clicks on the "下書き" buttons; even = show held-mail panel
    qint16 listToggleCount = 0;      // clicks on the compose window's attachment list toggle
    qint16 currentRecordNumber = 0;  // record last registered, held or selected for deletion

    // Editor state shared by the inbox and compose editors.
    qint16 boldCount = 0;
    qint16 italicCount = 0;
    qint16 underlineCount = 0;
    QString editorFileName;
    qint16 editorModified = 0;       // -1 = changed since last saved
};

} // namespace hollin
