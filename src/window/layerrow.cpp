#include "layerrow.h"

#include <QGridLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "layerrules.h"

int LabelWidthFor(const QLabel *label, const QString &text)
{
    const QMargins margins = label->contentsMargins();
    return label->fontMetrics().horizontalAdvance(text) + margins.left() + margins.right()
        + 2 * label->margin() + qMax(0, label->indent());
}

QString ElidedName(const QWidget *widget, const QString &name, int room)
{
    if (room < 0)
        return name;
    return widget->fontMetrics().elidedText(name, Qt::ElideMiddle, room);
}

LayerRow::LayerRow(int layer, const Widgets &widgets, QGridLayout *grid, QObject *parent)
    : QObject(parent), layer(layer), widgets(widgets), thresholdTip(widgets.threshold->toolTip())
{
    // File names are the user's: shown as they are, never as markup.
    widgets.name->setTextFormat(Qt::PlainText);
    // The add/remove button keeps its place while hidden, so the window has
    // its full size from the start instead of growing as layers are added.
    QSizePolicy policy = widgets.addRemove->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widgets.addRemove->setSizePolicy(policy);

    // The range of hits sits just right of the threshold button, at the
    // start of the name's cell, which keeps that room free of the name.
    hitRange = new QLabel(grid->parentWidget());
    hitRange->setObjectName(QStringLiteral("HitRange_%1").arg(layer));
    hitRange->setMargin(3);
    hitRange->setFixedWidth(hitRange->fontMetrics().horizontalAdvance(QStringLiteral("%1\u2013%1").arg(kHitStrengths))
                            + 2 * hitRange->margin());
    hitRange->hide();
    int at, column, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(widgets.name), &at, &column, &rowSpan, &columnSpan);
    grid->addWidget(hitRange, at, column, 1, 1, Qt::AlignLeft | Qt::AlignVCenter);
    QMargins margins = widgets.name->contentsMargins();
    margins.setLeft(margins.left() + hitRange->width());
    widgets.name->setContentsMargins(margins);

    connect(widgets.threshold, &QPushButton::clicked, this, [this]() { emit thresholdClicked(this->layer); });

    ShowSlot(0);
}

void LayerRow::ShowSlot(int count)
{
    const bool filled = layer <= count;
    const bool shown = layer <= count + 1;
    if (!filled) {
        widgets.name->setText(layer == 1 ? QStringLiteral("Create a Layer") : QStringLiteral("Add a Layer"));
        widgets.name->setToolTip(QString());
    }
    widgets.name->setVisible(shown);
    widgets.addRemove->setText(filled ? QStringLiteral("X") : QStringLiteral("+"));
    widgets.addRemove->setToolTip(filled ? tr("Remove layer %1").arg(layer)
                                         : tr("Add a sound as layer %1").arg(layer));
    // Only the last layer goes, so the rows keep no gaps.
    widgets.addRemove->setEnabled(layer >= count);
    widgets.addRemove->setVisible(shown);
    widgets.play->setVisible(filled);
    widgets.threshold->setVisible(filled);
}

void LayerRow::ShowName(const QString &name, int room, const QStringList &notes)
{
    const QString shown = ElidedName(widgets.name, name, room);
    widgets.name->setText(shown);
    QStringList lines;
    if (shown != name)
        lines << name;
    lines << notes;
    widgets.name->setToolTip(lines.join(QLatin1Char('\n')));
}

int LayerRow::NameWidth(const QString &name, int room) const
{
    return widgets.name->fontMetrics().horizontalAdvance(ElidedName(widgets.name, name, room));
}

void LayerRow::FitNameWidth(int least)
{
    widgets.name->setMinimumWidth(qMax(least, LabelWidthFor(widgets.name, widgets.name->text())));
}

void LayerRow::ShowThreshold(int threshold)
{
    widgets.threshold->setText(QString::number(threshold));
}

void LayerRow::ShowHitRange(const QString &range, const QString &hits)
{
    widgets.threshold->setToolTip(hits.isEmpty() ? thresholdTip : hits);
    hitRange->setText(range);
    hitRange->setToolTip(range.isEmpty() ? QString() : tr("The hits this layer plays"));
    hitRange->setVisible(!range.isEmpty());
}

void LayerRow::LightHitRange(bool on)
{
    hitRange->setAutoFillBackground(on);
    hitRange->setBackgroundRole(on ? QPalette::Highlight : QPalette::Window);
    hitRange->setForegroundRole(on ? QPalette::HighlightedText : QPalette::WindowText);
}

void LayerRow::HighlightDrop(bool on)
{
    widgets.name->setBackgroundRole(on ? QPalette::Highlight : QPalette::Window);
    widgets.name->setAutoFillBackground(on);
}

bool LayerRow::NameAt(const QWidget *window, const QPoint &position) const
{
    const QLabel *name = widgets.name;
    return name->isVisible() && QRect(name->mapTo(window, QPoint(0, 0)), name->size()).contains(position);
}
