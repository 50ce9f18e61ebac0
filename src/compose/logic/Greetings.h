#pragma once

#include <QString>
#include <QStringList>

namespace hollin {

// Fixed texts of the compose window: greeting phrases, fortunes, the code word.
class Greetings {
public:
    // The eight greeting phrases of the "首記例" box, in their order.
    static QStringList phrases();

    // The built-in fortunes, each beginning "今日の運勢：".
    static QStringList fortunes();
    // One fortune chosen at random.
    static QString randomFortune();
    // The body followed by a blank line and the fortune.
    static QString withFortune(const QString &body, const QString &fortune);

    // The four lower-case letters that, typed as the whole recipient, let a
    // double click on the status line open the window's hidden scratch area.
    static QString codeWord();
    static bool isCodeWord(const QString &recipientText);
};

} // namespace hollin
