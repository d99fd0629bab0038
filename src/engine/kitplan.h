#ifndef KITPLAN_H
#define KITPLAN_H

#include <QString>
#include <QStringList>
#include <QVector>

#include "drumkit.h"

// How a kit instrument's velocity ranges become a bank's layers and
// thresholds, the same for zkstool and the window.

constexpr int kHitStrengths = 127;

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
// round robins). Layers are ordered by threshold, highest first.
KitPlan PlanKitLayers(const QVector<KitLayer> &layers);

// Keeps `keep` of the plan's layers when it has more: ranks
// round(j (N-1) / (keep-1)) for j = 0..keep-1; every dropped rank's hits go
// to the nearest kept rank (a tie to the louder one) and a kept layer's
// threshold becomes the lowest of the hits it now plays.
void ReduceKitPlan(KitPlan *plan, int keep);

// The thresholds as the device takes them: the last set to 1, none above
// what the threshold slider reaches for its layer.
void FinishThresholds(KitPlan *plan);

// The file names (".zks" included) of a kit's banks, one per instrument
// name: "<kit> - <instrument>", characters a file name can't hold
// replaced, names too long for a file system shortened, duplicates numbered.
QStringList KitBankFileNames(const QString &kitName, const QStringList &instrumentNames);

#endif
