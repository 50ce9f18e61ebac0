#include "HeaderPainter.h"

#include <QHeaderView>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QTreeView>

namespace hollin {

namespace {

const QColor headerFill(58, 119, 165);
const QColor edgeLight(255, 255, 255);   // raised edge, top and left
const QColor edgeDark(64, 64, 64);       // raised edge, bottom and right
const QColor edgeFlat(128, 128, 128);    // flat edge of a pressed section
constexpr int textIndent = 5;
constexpr const char *previousStyleProperty = "hollinPreviousHeaderStyle";

// Draws every header section itself, over nothing the base style drew.
class HeaderStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *header = qstyleoption_cast<const QStyleOptionHeader *>(option);
        if (element != CE_Header || !header) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        paintSection(painter, header->rect, header->text, header->state & State_Sunken);
    }

private:
    static void paintSection(QPainter *painter, const QRect &section, const QString &text,
                             bool pressed)
    {
        painter->save();
        painter->setClipRect(section);
        painter->fillRect(section, headerFill);

        // The edge lies inside the section, one pixel short of its right end.
        const QRect edge = section.adjusted(0, 0, -1, 0);
        if (pressed) {
            painter->setPen(edgeFlat);
            painter->drawRect(edge.adjusted(0, 0, -1, -1));
        } else {
            painter->setPen(edgeLight);
            painter->drawLine(edge.topLeft(), edge.topRight());
            painter->drawLine(edge.topLeft(), edge.bottomLeft());
            painter->setPen(edgeDark);
            painter->drawLine(edge.bottomLeft(), edge.bottomRight());
            painter->drawLine(edge.topRight(), edge.bottomRight());
        }

        painter->setPen(Qt::white);
        painter->drawText(edge.adjusted(textIndent, 0, 0, 0),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        painter->restore();
    }
};

HeaderStyle *painterOf(const QHeaderView *header)
{
    return header ? dynamic_cast<HeaderStyle *>(header->style()) : nullptr;
}

} // namespace

bool hasHeaderPainter(const QHeaderView *header)
{
    return painterOf(header) != nullptr;
}

void installHeaderPainter(QHeaderView *header)
{
    if (!header || hasHeaderPainter(header))
        return;
    // Only a style set on the header itself is remembered; otherwise the
    // header goes back to following the application's style.
    QPointer<QStyle> previous;
    if (header->testAttribute(Qt::WA_SetStyle))
        previous = header->style();
    header->setProperty(previousStyleProperty, QVariant::fromValue(previous));

    auto *style = new HeaderStyle;
    style->setParent(header);
    header->setStyle(style);
    header->viewport()->update();
}

void removeHeaderPainter(QHeaderView *header)
{
    HeaderStyle *style = painterOf(header);
    if (!style)
        return;
    const auto previous = header->property(previousStyleProperty).value<QPointer<QStyle>>();
    header->setStyle(previous.data());
    header->setProperty(previousStyleProperty, QVariant());
    delete style;
    header->viewport()->update();
}

void installHeaderPainter(QTreeView *view)
{
    if (view)
        installHeaderPainter(view->header());
}

void removeHeaderPainter(QTreeView *view)
{
    if (view)
        removeHeaderPainter(view->header());
}

void installHeaderPainter(QTableView *view)
{
    if (view)
        installHeaderPainter(view->horizontalHeader());
}

void removeHeaderPainter(QTableView *view)
{
    if (view)
        removeHeaderPainter(view->horizontalHeader());
}

} // namespace hollin
