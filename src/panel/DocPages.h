#pragma once

#include <QString>

namespace hollin {

// The HTML pages the program ships: "manual.html" (使い方) and
// "release-notes.html" (更新履歴). An installed program finds them in
// <exe folder>/../share/hollin/doc; a program run from its build tree falls
// back to the source tree's docs/ folder.
class DocPages {
public:
    // Full path of the page, or empty when neither place has it.
    static QString find(const QString &fileName, const QString &exeFolder);
};

} // namespace hollin
