// The window's view of each layer's sound: its levels in the row's tool tip,
// which hits each layer plays in the threshold buttons' tool tips, the order
// by loudness, the waveform strip with its play button, and hearing what a
// hit of a given strength plays.

#include "zkwindow.h"
#include "ui_zkwindow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "audiooutput.h"
#include "kitpipeline.h"
#include "layerrow.h"
#include "layerview.h"
#include "soundplayer.h"
#include "tailoption.h"

void ZKWindow::SetUpLevelsAndView()
{
    orderButton = new QPushButton(tr("Order by loudness"), ui->widget);
    orderButton->setObjectName(QStringLiteral("OrderByLoudnessButton"));
    orderButton->setToolTip(tr("Put the loudest layer first and set the thresholds by how loud "
                               "each layer is"));
    // Keeps its place while hidden, as Generate does, so the bar doesn't
    // shift when the second layer comes.
    QSizePolicy policy = orderButton->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    orderButton->setSizePolicy(policy);
    orderButton->hide();
    ui->horizontalLayout->insertWidget(ui->horizontalLayout->indexOf(ui->GenerateButton), orderButton);
    connect(orderButton, &QPushButton::clicked, this, [this]() { OrderByLoudness(); });

    layerView = new LayerView(ui->centralWidget);
    hitStrengthBox = new QSpinBox(ui->centralWidget);
    hitStrengthBox->setObjectName(QStringLiteral("HitStrengthBox"));
    hitStrengthBox->setRange(1, kHitStrengths);
    hitStrengthBox->setValue((kHitStrengths + 1) / 2);
    hitStrengthBox->setToolTip(tr("A hit's strength, from 1 (the softest) to %1 (the hardest): "
                                  "the layer it plays lights up and shows in the strip")
                                   .arg(kHitStrengths));
    hitPlayButton = new QPushButton(tr("Play Hit"), ui->centralWidget);
    hitPlayButton->setObjectName(QStringLiteral("HitPlayButton"));
    hitPlayButton->setToolTip(tr("Play what a hit of this strength plays, as the bank holds it: "
                                 "its layer's left channel, after the cut"));
    auto *hitColumn = new QVBoxLayout;
    hitColumn->addStretch();
    hitColumn->addWidget(hitStrengthBox);
    hitColumn->addWidget(hitPlayButton);
    hitColumn->addStretch();
    auto *strip = new QHBoxLayout;
    strip->addWidget(layerView, 1);
    strip->addLayout(hitColumn);
    ui->verticalLayout_2->insertLayout(ui->verticalLayout_2->indexOf(ui->widget), strip);
    connect(layerView, &LayerView::playClicked, this, [this]() { PlayShownLayer(); });
    connect(hitStrengthBox, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int strength) {
        LightHitRow();
        ShowLayerInView(LayerForHit(Bank().Thresholds(), Bank().Count(), strength));
    });
    connect(hitPlayButton, &QPushButton::clicked, this, [this]() {
        PlayLayerAsHeld(LayerForHit(Bank().Thresholds(), Bank().Count(), hitStrengthBox->value()));
    });

    ShowHitRanges();

    for (LayerRow *r : rows)
        connect(r, &LayerRow::thresholdClicked, this, [this](int layer) { ShowLayerInView(layer); });
}

// After layers were added, removed or reordered: the strip shows the layer
// just added, or the last one left when the one it showed has gone.
void ZKWindow::ShowLevelsAndView()
{
    orderButton->setVisible(Bank().Count() >= 2);
    QStringList paths;
    for (int i = 0; i < Bank().Count(); ++i)
        paths << Bank().Path(i + 1);
    analysis.keepOnly(paths);
    int layer = layerView->shownLayer();
    if (Bank().Count() > layersShown || layer > Bank().Count())
        layer = Bank().Count();
    layersShown = Bank().Count();
    ShowLayerInView(layer);
    ShowHitRanges();
}

QStringList ZKWindow::LevelsToolTipLines(int layer)
{
    LayerLevels levels;
    QString reason;
    if (!analysis.levels(Bank().Path(layer), Bank().GateLevel(), &levels, &reason))
        return {QStringLiteral("Levels unknown: %1").arg(reason)};
    return LevelsLines(levels);
}

// What a row's tool tip tells below the name: what a kit's import did to
// make the layer, then its levels and what trimming saved the layer.
QStringList ZKWindow::RowNotes(int layer)
{
    QStringList lines;
    const QString imported = Bank().LayerNote(layer);
    if (!imported.isEmpty())
        lines << imported;
    lines << LevelsToolTipLines(layer);
    const QString trimmed = TrimToolTipLine(Bank(), layer);
    if (!trimmed.isEmpty())
        lines << trimmed;
    return lines;
}

void ZKWindow::ShowHitRanges()
{
    const int count = Bank().Count();
    for (LayerRow *r : rows) {
        const int layer = r->Layer();
        // One layer plays every hit: its threshold button tells what it is for.
        r->ShowHitRange(layer <= count ? HitRangeShort(Bank().Thresholds(), count, layer) : QString(),
                        count >= 2 && layer <= count ? HitRangeText(Bank().Thresholds(), count, layer) : QString());
    }
    hitStrengthBox->setEnabled(Bank().Count() >= 1);
    hitPlayButton->setEnabled(Bank().Count() >= 1);
    LightHitRow();
}

// Lights the range of the row whose layer a hit of the chosen strength plays.
void ZKWindow::LightHitRow()
{
    const int lit = LayerForHit(Bank().Thresholds(), Bank().Count(), hitStrengthBox->value());
    for (LayerRow *r : rows)
        r->LightHitRange(r->Layer() == lit);
}

// Layer 0, or one not filled, empties the strip.
void ZKWindow::ShowLayerInView(int layer)
{
    LayerView::Layer shown;
    if (layer >= 1 && layer <= Bank().Count()) {
        const QString &path = Bank().Path(layer);
        shown.number = layer;
        shown.summary = analysis.summary(path);
        shown.cutFrames = analysis.cutFrames(path, Bank().GateLevel());
        shown.layerBytes = Bank().Size(layer);
    }
    layerView->showLayer(shown);
    MarkShownLayer(shown.number);
}

// The checked threshold button and the slider name the layer in the strip:
// only the button of the layer shown is checked, and the slider stays only
// while it moves that layer's threshold. The buttons are not an exclusive
// group, as Tab would then stop at the checked one alone.
void ZKWindow::MarkShownLayer(int layer)
{
    const bool marked = Bank().Count() >= 2 && layer >= 1 && layer <= Bank().Count();
    for (LayerRow *r : rows)
        r->ThresholdButton()->setChecked(marked && r->Layer() == layer);
    if (!marked || layer == Bank().Count() || layer != selectedLayer)
        ui->ThresholdSlider->hide();
}

// Puts the layers loudest first by their attack, the strike that decides
// how hard a hit sounds, and spreads the thresholds by the same levels.
void ZKWindow::OrderByLoudness()
{
    QVector<double> attack;
    for (int layer = 1; layer <= Bank().Count(); ++layer) {
        LayerLevels levels;
        QString reason;
        if (!analysis.levels(Bank().Path(layer), Bank().GateLevel(), &levels, &reason)) {
            ShowWarning(tr("Layer %1 could not be measured: %2.").arg(layer).arg(reason));
            return;
        }
        attack << levels.attackDbfs;
    }
    if (table->ThresholdsChosen()
        && !prompts->Confirm(tr("Replace the thresholds you set with ones spread by loudness?")))
        return;

    ThresholdTable spread;
    std::copy(Bank().Thresholds(), Bank().Thresholds() + kMaxLayers + 1, spread);
    const QVector<int> order = LoudnessOrder(attack, true, spread);
    const int shownNow = int(order.indexOf(layerView->shownLayer() - 1)) + 1;
    table->Reorder(order, spread);
    HideThresholdSlider();
    ShowLayerInView(shownNow);
}

// Plays what the bank will hold of the layer in the strip, as the device
// plays it: the left channel, after the gate's cut.
void ZKWindow::PlayShownLayer()
{
    PlayLayerAsHeld(layerView->shownLayer());
}

void ZKWindow::PlayLayerAsHeld(int layer)
{
    if (layer < 1 || layer > Bank().Count())
        return;
    if (!AudioOutputAvailable()) {
        WarnNoAudioOutput();
        return;
    }
    QString reason;
    const QString held = analysis.heldSoundFile(Bank().Path(layer), Bank().GateLevel(), &reason);
    if (held.isEmpty()) {
        ShowWarning(tr("Layer %1 could not be played: %2.").arg(layer).arg(reason));
        return;
    }
    PlaySoundFile(this, held);
}
