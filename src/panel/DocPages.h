#pragma once

#include <QString>
#include <QTextBrowser>
#include <QUrl>

namespace hollin {

// The HTML pages the program ships, built into it so that they always open:
// "manual.html" (使い方) and "release-notes.html" (更新履歴).
class DocPages {
public:
    // qrc: address of the page; empty when the program has no such page.
    static QUrl url(const QString &fileName);

    // Shows the page in the owner's page window ("DocPageWindow"), made on first use.
    static void show(QWidget *owner, const QString &fileName);
};

// A window of the program's own that shows the shipped pages. Links between them
// stay here; links to anything else go to the desktop's browser.
class DocPageWindow : public QTextBrowser {
    Q_OBJECT
public:
    explicit DocPageWindow(QWidget *owner);

private:
    void follow(const QUrl &link);
};

} // namespace hollin
