#ifndef LAYERVIEW_H
#define LAYERVIEW_H

#include <QWidget>

#include <memory>

#include "waveformsummary.h"

class QLabel;
class QPushButton;
class WaveStrip;

// The strip under the layer rows: one layer's waveform across its whole
// region, the part the gate cuts and the zero padding after the sound each
// in a shade of their own, its length and size as text, and a button that
// plays it as the bank holds it.
class LayerView : public QWidget
{
    Q_OBJECT

public:
    // What the strip shows of a layer.
    struct Layer {
        int number = 0; // 0: no layer
        std::shared_ptr<const WaveSummary> summary;
        qint64 cutFrames = 0;  // leading frames the gate cuts
        qint32 layerBytes = 0; // the layer's region in the bank
    };

    explicit LayerView(QWidget *parent = nullptr);

    // Shows `layer`; one numbered 0 (or without a summary) empties the strip
    // and shows the hint instead.
    void showLayer(const Layer &layer);

    int shownLayer() const { return shown.number; }
    qint64 cutFrames() const { return shown.cutFrames; }

signals:
    void playClicked();

private:
    Layer shown;
    WaveStrip *strip;
    QLabel *caption;
    QPushButton *play;
};

#endif
