#ifndef KITPLAN_H
#define KITPLAN_H

#include <QString>
#include <QStringList>
#include <QVector>

#include "drumkit.h"
#include "layerrules.h"
#include "tailtrim.h"

// How a kit instrument's velocity ranges become a bank's layers and
// thresholds, the same for zkstool and the window.

struct KitPlan {
    // Indices into the instrument's layers, loudest (highest threshold) first.
    QVector<int> layers;
    // One per layer: the lowest hit strength it plays; the last one is 1.
    QVector<int> thresholds;
    // For each planned layer, the hit strengths (1..127) it plays.
    QVector<QVector<int>> hits;
    QStringList notes; // what was left out and why
};

// For each hit strength v = 1..127 (x = v / 127), the layer played: the
// first in file order with min <= x <= max, or else the one whose min is
// nearest x. A layer's threshold is the lowest v it plays; layers playing
// none are left out (layers sharing a range with an earlier one counted as
// round robins). Layers are ordered by threshold, highest first. Layers
// marked in `unusable` (by index; none when empty) play nothing and get no
// note: their own note says why.
KitPlan PlanKitLayers(const QVector<KitLayer> &layers, const QVector<bool> &unusable = {});

// Keeps `keep` of the plan's layers when it has more: ranks
// round(j (N-1) / (keep-1)) for j = 0..keep-1; every dropped rank's hits go
// to the nearest kept rank (a tie to the louder one) and a kept layer's
// threshold becomes the lowest of the hits it now plays.
void ReduceKitPlan(KitPlan *plan, int keep);

// The thresholds as the device takes them: the last set to 1, none above
// what the threshold slider reaches for its layer.
void FinishThresholds(KitPlan *plan);

// One kit layer's converted sound made ready for a bank: mono, its stereo
// channels mixed as (L+R)/2 unless `leftOnly`, times `gain`, as samples
// at full scale 32768 (not yet rounded, so one factor can still bring the
// whole instrument below clipping).
// Of its frames, `count` from `first` (all to the end when `count` < 0).
QVector<double> KitLayerSamples(const PcmSound &converted, double gain, bool leftOnly, qint64 first = 0,
                                qint64 count = -1);

// The instrument's layers as 16-bit mono sounds: when any sample would clip,
// all are scaled by one factor, which `scale` gets (1 when none clips; 0
// when a sample is not finite, the layers then meaningless); then, when
// `trimTails`, each one's quiet tail is trimmed as --trim-tails does.
QVector<QByteArray> FinishKitLayers(const QVector<QVector<double>> &layers, bool trimTails, double *scale);

// Fits 16-bit mono layers to the bank: when their sizes fail the engine's
// rules (the budget, the size tables of five layers or more, or the sound
// check's longest layer), every
// layer longer than L frames is cut to L, its last 10 ms faded out, with
// the largest L that fits. `headerBytes` are the bank's own, charged to the
// budget with the layers. `cutFrames` gets L (0: nothing cut). False, the
// layers unchanged, when L would be under one second.
bool FitKitLayers(QVector<QByteArray> *layers, qint64 headerBytes, int *cutFrames);

// The file names (".zks" included) of a kit's banks, one per instrument
// name: "<kit> - <instrument>" made card-safe and distinct in any case, as
// DistinctCardSafeFileNames makes them.
QStringList KitBankFileNames(const QString &kitName, const QStringList &instrumentNames);

#endif
