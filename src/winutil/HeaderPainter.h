#pragma once

class QHeaderView;
class QTableView;
class QTreeView;

namespace hollin {

// The program's list-header look: every section filled with RGB(58, 119, 165),
// a soft raised edge (flat while the section is pressed), and its text in
// white on one line, indented 5 pixels and vertically centred.
//
// Installing replaces the header's style by a painting proxy owned by the
// header; removing gives the header back the style it had before. Installing
// twice or removing from a header that was never painted does nothing.
void installHeaderPainter(QHeaderView *header);
void removeHeaderPainter(QHeaderView *header);

// The column header of a list.
void installHeaderPainter(QTreeView *view);
void removeHeaderPainter(QTreeView *view);
void installHeaderPainter(QTableView *view);
void removeHeaderPainter(QTableView *view);

bool hasHeaderPainter(const QHeaderView *header);

} // namespace hollin
