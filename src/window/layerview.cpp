#include "layerview.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

#include "figures.h"
#include "layeranalysis.h"
#include "zkslayout.h"

namespace {

// The sound the bank holds, the part the gate cuts (greyed), and the zero
// padding that fills the region after the sound.
const QColor kHeldWave(0, 130, 0);
const QColor kCutWave(150, 150, 150);
const QColor kCutShade(225, 225, 225);
const QColor kPaddingShade(205, 225, 245);
const QColor kBackground(Qt::white);
const QColor kCentreLine(200, 200, 200);

constexpr int kStripHeight = 48;

} // namespace

// The drawing itself. The envelope is drawn once into a pixmap and redrawn
// only when the layer, its cut or size, or the strip's size changes; any
// other repaint copies the pixmap.
class WaveStrip : public QWidget
{
public:
    explicit WaveStrip(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("LayerViewStrip"));
        setMinimumHeight(kStripHeight);
        // Grows with the window's height.
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        hint = new QLabel(LayerView::tr("Add a layer to see its waveform here"), this);
        hint->setObjectName(QStringLiteral("LayerViewHint"));
        hint->setAlignment(Qt::AlignCenter);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(hint);
    }

    void setLayer(const LayerView::Layer &layer)
    {
        shown = layer;
        hint->setVisible(!shown.summary);
        const int peak = shown.summary ? Peak(*shown.summary) : 0;
        setToolTip(peak > 0 ? LayerView::tr("Drawn to the layer's own peak, %1, at full height")
                                  .arg(WithUnit(20 * std::log10(peak / 32768.0), 1, "dBFS"))
                            : QString());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = size() * ratio;
        const Key now{shown.summary, shown.cutFrames, shown.layerBytes, pixels};
        if (!(now == drawn)) {
            picture = Draw(pixels);
            picture.setDevicePixelRatio(ratio);
            drawn = now;
        }
        QPainter painter(this);
        painter.drawPixmap(0, 0, picture);
    }

private:
    static int Peak(const WaveSummary &summary)
    {
        int peak = 0;
        for (qint16 v : summary.minima)
            peak = qMax(peak, qAbs(int(v)));
        for (qint16 v : summary.maxima)
            peak = qMax(peak, qAbs(int(v)));
        return peak;
    }

    struct Key {
        // Held, so no other summary can take its address while it is
        // the one drawn.
        std::shared_ptr<const WaveSummary> summary;
        qint64 cutFrames = -1;
        qint32 layerBytes = -1;
        QSize pixels;
        bool operator==(const Key &o) const
        {
            return summary == o.summary && cutFrames == o.cutFrames && layerBytes == o.layerBytes
                && pixels == o.pixels;
        }
    };

    // The strip spans the whole region the layer takes in the bank, with the
    // cut part before it: the frames the gate drops, then those the bank
    // holds, then the padding.
    QPixmap Draw(const QSize &pixels) const
    {
        QPixmap pixmap(pixels.expandedTo(QSize(1, 1)));
        pixmap.fill(kBackground);
        if (!shown.summary)
            return pixmap;
        const WaveSummary &summary = *shown.summary;
        const qint64 span = shown.cutFrames + shown.layerBytes / 2;
        const int width = pixels.width();
        const int height = pixels.height();
        if (span <= 0 || width <= 0)
            return pixmap;
        const auto column = [&](qint64 frame) { return int(frame * width / span); };
        const int cutEnd = column(shown.cutFrames);
        const int soundEnd = column(qMin(summary.frames, span));

        QPainter painter(&pixmap);
        painter.fillRect(QRect(0, 0, cutEnd, height), kCutShade);
        painter.fillRect(QRect(soundEnd, 0, width - soundEnd, height), kPaddingShade);
        const int middle = height / 2;
        painter.setPen(kCentreLine);
        painter.drawLine(0, middle, width - 1, middle);

        QVector<qint16> minima, maxima;
        EnvelopeForWidth(summary, 0, span, width, &minima, &maxima);
        // To the layer's own peak, so a soft sound is as readable as a loud one.
        const double scale = (height / 2 - 1) / double(qMax(1, Peak(summary)));
        for (int x = 0; x < width; ++x) {
            painter.setPen(x < cutEnd ? kCutWave : kHeldWave);
            painter.drawLine(x, middle - int(maxima.at(x) * scale), x, middle - int(minima.at(x) * scale));
        }
        return pixmap;
    }

    LayerView::Layer shown;
    QLabel *hint;
    QPixmap picture;
    Key drawn;
};

LayerView::LayerView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("LayerView"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    play = new QPushButton(this);
    play->setObjectName(QStringLiteral("LayerViewPlay"));
    play->setIcon(QIcon(QStringLiteral(":/img/play.png")));
    play->setIconSize(QSize(19, 19));
    play->setFixedSize(23, 23);
    play->setToolTip(tr("Play the layer as the bank holds it: its left channel, after the cut"));
    connect(play, &QPushButton::clicked, this, &LayerView::playClicked);

    strip = new WaveStrip(this);

    caption = new QLabel(this);
    caption->setObjectName(QStringLiteral("LayerViewCaption"));
    caption->setTextFormat(Qt::PlainText);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->addWidget(play);
    layout->addWidget(strip, 1);
    layout->addWidget(caption);
    showLayer(Layer());
}

void LayerView::showLayer(const Layer &layer)
{
    shown = layer;
    if (!shown.summary)
        shown = Layer();
    strip->setLayer(shown);
    play->setEnabled(shown.number > 0);
    caption->setVisible(shown.number > 0);
    if (shown.number > 0)
        caption->setText(LayerViewCaption(shown.number, shown.summary->frames - shown.cutFrames,
                                          shown.layerBytes));
}
