#pragma once

#include "storage/DataRoot.h"
#include "storage/Error.h"

#include <QImage>

namespace hollin {

// The five panel pictures "1.jpg" … "5.jpg" of the picture folder. The program
// ships its own set (Qt resources ":/panel/1.jpg" …) and puts a copy of each
// into the picture folder when that file is missing; the user may replace them.
class PanelPictures {
public:
    static constexpr int Count = 5;

    explicit PanelPictures(const DataRoot &root);

    // Path of picture n (1 … 5) in the picture folder.
    QString path(int n) const;
    // Copies every shipped picture whose file is missing. Existing files stay.
    bool copyMissing(Error *err = nullptr) const;
    // Picture n read from its file; a null image and err set when it is missing
    // or unreadable.
    QImage load(int n, Error *err = nullptr) const;

private:
    DataRoot m_root;
};

} // namespace hollin
