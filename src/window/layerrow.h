#ifndef LAYERROW_H
#define LAYERROW_H

#include <QObject>
#include <QString>
#include <QStringList>

class QGridLayout;
class QLabel;
class QPoint;
class QPushButton;
class QWidget;

// The width a label needs to show `text` whole within its margins.
int LabelWidthFor(const QLabel *label, const QString &text);

// `name` shortened in its middle to `room` pixels in `widget`'s font; whole
// when `room` is negative.
QString ElidedName(const QWidget *widget, const QString &name, int room);

// One of the window's eight layer rows: its threshold button, its name, the
// range of hits it plays, its add/remove button and its play button. The
// widgets are the form's, in the window's grid, so their columns line up
// across the rows and the threshold slider spans them all; the row adds
// its hit range to the name's cell and keeps the widgets' states.
class LayerRow : public QObject
{
    Q_OBJECT

public:
    struct Widgets {
        QLabel *name;
        QPushButton *threshold;
        QPushButton *addRemove;
        QPushButton *play;
    };
    LayerRow(int layer, const Widgets &widgets, QGridLayout *grid, QObject *parent);

    int Layer() const { return layer; }
    QLabel *NameLabel() const { return widgets.name; }
    QPushButton *ThresholdButton() const { return widgets.threshold; }
    QPushButton *AddRemoveButton() const { return widgets.addRemove; }
    QPushButton *PlayButton() const { return widgets.play; }

    // The row's state in a bank of `count` layers: filled, the one row to
    // add to, or hidden below it.
    void ShowSlot(int count);
    // A filled row's name, shortened to `room` pixels (-1: whole); its tool
    // tip gives the whole name where it is shortened, then `notes`.
    void ShowName(const QString &name, int room, const QStringList &notes);
    // The pixels `name` takes shortened to `room`.
    int NameWidth(const QString &name, int room) const;
    // The name's cell keeps to at least `least` pixels, and to its text.
    void FitNameWidth(int least);
    void ShowThreshold(int threshold);
    // The hits the layer plays: `range` short by the name (empty: none
    // shown), `hits` in full in the threshold button's tool tip (empty: the
    // form's tip).
    void ShowHitRange(const QString &range, const QString &hits);
    // Lit: a hit of the chosen strength plays this row's layer.
    void LightHitRange(bool on);
    // Marks the row a dropped sound would replace.
    void HighlightDrop(bool on);
    // Whether the name shows at `position` in `window`'s coordinates.
    bool NameAt(const QWidget *window, const QPoint &position) const;

signals:
    // The add/remove and play buttons reach the window's own slots by
    // their names; the threshold button also shows its layer's waveform.
    void thresholdClicked(int layer);

private:
    const int layer;
    const Widgets widgets;
    QLabel *hitRange = nullptr;
    // The form's tip for a threshold button whose layer has no range.
    QString thresholdTip;
};

#endif
