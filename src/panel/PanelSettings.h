#pragma once

#include "storage/DataRoot.h"
#include "storage/Error.h"

#include <QColor>
#include <QPoint>
#include <array>
#include <optional>

namespace hollin {

// Panel sizes chosen by "矩形" (small) and "変形" (large); NUMBER7 holds 1 or 2.
enum class PanelSize { Designed = 0, Small = 1, Large = 2 };

// Positions of the six remembered windows, in twips: the panel and Form1 … Form5.
struct WindowPositions {
    QPoint panel;
    std::array<QPoint, 5> floating; // index 0 = Form1
};

// What the control panel reads at start-up and writes on its commands, over
// "ini.ini" and "Form.ini" of the data folder. No widgets here: MainForm applies
// the values.
class PanelSettings {
public:
    explicit PanelSettings(const DataRoot &root);

    // A stored check-box value: 1 ticks, 0 clears, anything else leaves the box alone.
    static std::optional<bool> checkState(int stored);

    // NUMBER / NUMBER2: initial boxes, only used while NUMBER8 / NUMBER9 are absent.
    std::optional<bool> initialExplanations() const; // Check1
    std::optional<bool> initialAutoView() const;     // Check2
    // NUMBER4 == 1: the settings window's auto-dismiss box is ticked.
    bool noticeAutoDismiss() const;
    // NUMBER8 / NUMBER9, written by the exit button; nothing while absent.
    std::optional<bool> savedExplanations() const;
    std::optional<bool> savedAutoView() const;

    // NAME: the background colour, or nothing for the designed colour (missing,
    // empty, "-1", not a whole number, or outside 0x000000 … 0xFFFFFF).
    std::optional<QColor> backgroundColour() const;
    static std::optional<QColor> colourFromText(const QString &stored);
    static int toBgr(const QColor &colour);

    // NUMBER6: picture set 1 … 5, or 0 for none.
    int pictureSet() const;
    // NUMBER7.
    PanelSize panelSize() const;

    WindowPositions positions() const;
    // False until the first exit stored the floating windows' positions.
    bool hasFloatingPositions() const;

    bool writePositions(const WindowPositions &positions, Error *err = nullptr) const;
    bool writeChecks(bool explanations, bool autoView, Error *err = nullptr) const;
    // -1 after a cancelled colour chooser.
    bool writeColour(int bgr, Error *err = nullptr) const;
    bool writePictureSet(int n, Error *err = nullptr) const;
    bool writePanelSize(PanelSize size, Error *err = nullptr) const;

    // The stored mail count shown by the panel: a file length divided by the
    // record length, rounded to the nearest whole number, a half to even.
    static qint64 recordsForLength(qint64 fileLength);

private:
    DataRoot m_root;
};

} // namespace hollin
