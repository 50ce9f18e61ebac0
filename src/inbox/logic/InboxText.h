#pragma once

#include "storage/Error.h"

#include <QRect>
#include <QString>

namespace hollin {

// "Subject:  …" CR LF "From:  …" CR LF "Date:  …" CR LF "Body:  " + body, no final CR LF.
QString headerBlock(const QString &subject, const QString &from, const QString &date,
                    const QString &body);

// Text files of the quick-save command, in the folder "■TextQuickSave".
class QuickSave {
public:
    // subject + ".txt", made a safe bare file name: path separators, characters
    // not allowed in file names and control characters become "_", ordinary
    // spaces and dots at the ends go, an empty result is "無題".
    static QString fileNameFor(const QString &subject);
    // Creates the folder when missing, then writes the header block with a
    // final CR LF, every line ended by CR LF, CP932, replacing an existing file.
    static bool write(const QString &folder, const QString &fileName, const QString &subject,
                      const QString &from, const QString &date, const QString &body,
                      Error *err = nullptr);
};

// Geometry of the inbox controls in twips for a window of width × height.
struct InboxLayout {
    static constexpr int BodyLeft = 20;
    QRect list, subject, from, date, body, picture;
    QPoint copyButton, copyBox; // Command1 and Text6, relative to the status bar

    static InboxLayout compute(int width, int height);
};

} // namespace hollin
