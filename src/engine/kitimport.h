#ifndef KITIMPORT_H
#define KITIMPORT_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

#include "drumkit.h"
#include "fileprocessor.h"
#include "sfzkit.h"

// One kit instrument made ready for a bank, the same for zkstool and the
// window: its layers converted, planned, shaped and fitted.
struct PreparedInstrument {
    bool cancelled = false;
    QString failure;           // why it gives no bank; empty when it does
    QVector<LayerFile> layers; // 16-bit mono WAVEs in the work folder, loudest first
    QVector<int> thresholds;   // one per layer, the last one 1
    QStringList notes;         // what was left out, and what was done to fit
};

// Converts each layer that plays some hit strength as any layer is
// converted (a sample that fails is left out with a note), plans the
// thresholds from the velocity ranges (reduced to eight), makes each layer
// mono (stereo mixed as (L+R)/2 unless `leftOnly`), applies its gain (the
// whole instrument scaled by one factor when a layer would clip), trims
// quiet tails and fits the bank named `bankName`: layers cut to the longest
// length that fits, or, under one second, one dropped by the reduction
// rule. Pitch is not applied; a note says so. Writes into `workFolder`.
PreparedInstrument PrepareKitInstrument(KitInstrument instrument, const QString &workFolder,
                                        const QString &bankName, bool leftOnly,
                                        const std::atomic<bool> *cancelled);

// One key of an SFZ kit made ready for a bank as an instrument is: each
// region of each velocity band converted as any layer is (a sample that
// fails is left out with a note), made mono, cut to its offset and end
// (the sample's own frames, scaled to the bank's rate), times its gain;
// a band's regions summed into one layer whose threshold is the band's
// lowest velocity. From there the instrument's rules: reduction to eight,
// one scale for the whole key against clipping, trimmed tails, the budget.
PreparedInstrument PrepareSfzKey(const SfzKit &kit, int key, const QString &workFolder,
                                 const QString &bankName, bool leftOnly,
                                 const std::atomic<bool> *cancelled);

#endif
