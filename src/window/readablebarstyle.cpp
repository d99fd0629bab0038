#include "readablebarstyle.h"

#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QWidget>

#include <cmath>

namespace {

// The part of `groove` a bar's value fills, from its right end when
// `fromRight`.
QRect FilledPart(const QRect &groove, int minimum, int maximum, int value, bool fromRight)
{
    const qint64 range = qMax<qint64>(1, qint64(maximum) - minimum);
    const qint64 done = qBound<qint64>(0, qint64(value) - minimum, range);
    const int width = int(groove.width() * done / range);
    const int left = fromRight ? groove.right() + 1 - width : groove.left();
    return QRect(left, groove.top(), width, groove.height());
}

// Black or white, whichever stands out more from `background` (contrast of
// relative luminances, as the web's accessibility guidelines measure it).
// The style's own highlighted-text colour can be too weak over the lighter
// parts of a gradient bar.
QColor TextColourOver(const QColor &background)
{
    const auto linear = [](qreal c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const qreal luminance = 0.2126 * linear(background.redF()) + 0.7152 * linear(background.greenF())
        + 0.0722 * linear(background.blueF());
    const qreal againstWhite = 1.05 / (luminance + 0.05);
    const qreal againstBlack = (luminance + 0.05) / 0.05;
    return againstBlack > againstWhite ? QColor(Qt::black) : QColor(Qt::white);
}

} // namespace

void ReadableBarStyle::drawControl(ControlElement element, const QStyleOption *option,
                                   QPainter *painter, const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionProgressBar *>(option);
    if (element != CE_ProgressBarLabel || !bar || !widget || !(bar->state & State_Horizontal)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionProgressBar whole = *bar;
    whole.rect = widget->rect();
    const bool fromRight = bar->invertedAppearance != (bar->direction == Qt::RightToLeft);
    const QRect filled = FilledPart(subElementRect(SE_ProgressBarContents, &whole, widget),
                                    bar->minimum, bar->maximum, bar->progress, fromRight);
    const QTextOption centred(Qt::AlignCenter);
    painter->save();
    painter->setClipRegion(QRegion(bar->rect).subtracted(filled));
    painter->setPen(bar->palette.color(QPalette::Text));
    painter->drawText(bar->rect, bar->text, centred);
    painter->setClipRect(filled & bar->rect);
    painter->setPen(TextColourOver(bar->palette.color(QPalette::Highlight)));
    painter->drawText(bar->rect, bar->text, centred);
    painter->restore();
}
