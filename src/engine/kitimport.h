#ifndef KITIMPORT_H
#define KITIMPORT_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

#include "fileprocessor.h"
#include "layerrules.h"
#include "tailtrim.h"

// A drum kit made into banks, one per instrument, the same for zkstool and
// the window: whatever the kit's format, each instrument becomes layer
// sources (parts of samples with a gain, a range of hit strengths each),
// those become mono samples, and one path plans, shapes and fits them.

// One sound a layer sums: a sample of the kit, the part of it played, and
// its gain.
struct LayerPart {
    QString sample;    // as the decoder knows it: a path for a file of the kit
    double gain = 1;
    qint64 offset = 0; // first frame played, in the sample's own frames
    qint64 end = -1;   // last frame played; -1: the sample's end
};

// One layer of an instrument as its kit gives it: the parts that sound
// together, and the hit strengths (0..1) it plays.
struct LayerSource {
    QVector<LayerPart> parts;
    double min = 0;
    double max = 1;
    double pitch = 0; // semitones; not applied, a note says so
};

// An instrument of any kit format, ready for the one preparation path.
struct InstrumentSource {
    QVector<LayerSource> layers; // in the kit's own order
    QStringList notes;           // what the kit's reader left out
};

// A decoded sample: 16-bit PCM at the bank's rate, one or two channels, and
// the rate it had, by which its offsets and ends count.
struct DecodedSample {
    PcmSound sound;
    int sourceRate = kBankRate;
    bool mixedToMono = false; // a stereo sound the decoder itself made mono
};

// Decodes a part's sample; false with why ("no such file", "Format not
// recognised."). It need hold no more than a layer plays past
// `furthestOffset`, the furthest any part of it starts (in its own frames).
// Called for several samples at once, from as many threads.
using SampleDecoder = std::function<bool(const QString &sample, qint64 furthestOffset,
                                         DecodedSample *decoded, QString *reason)>;

// The decoder for sample files: each decoded into memory as any layer is
// converted (DecodeSound), its length read from its header first so that
// no more is decoded than a layer can hold; `workFolder` takes what the
// resampler must spool of a long one.
SampleDecoder FileDecoder(const QString &workFolder, const std::atomic<bool> *cancelled);

// How an import shapes its layers.
struct KitImportOptions {
    bool leftOnly = false;  // keep the left channel of stereo samples, not (L+R)/2
    bool trimTails = true;  // trim each layer's quiet tail as --trim-tails does
    // Also make each layer the other way as to its tail (otherLayers): the
    // window keeps both, so "Trim tails" switches between the bytes zkstool
    // writes with and without --keep-tails.
    bool bothTails = false;
};

// One kit instrument made ready for a bank.
struct PreparedInstrument {
    bool cancelled = false;
    QString failure;           // why it gives no bank; empty when it does
    // The kit gives it nothing to play (no sample named, or silent ones
    // only, as placeholders are): no bank, yet nothing went wrong.
    bool empty = false;
    QVector<LayerFile> layers; // 16-bit mono WAVEs in the work folder, loudest first
    QStringList samples;       // for each, the kit's sample it was made from
    // For each, what the import did to it: "From kick.flac: mixed to mono,
    // scaled by -3.1 dB, cut to 2.50 s, padded" (no-break spaces in figures).
    QStringList layerNotes;
    // With KitImportOptions::bothTails, the layers made the other way as to
    // their tails (untrimmed when `layers` are trimmed, else trimmed), under
    // the same names, and their notes. `notes` tell of `layers` only.
    QVector<LayerFile> otherLayers;
    QStringList otherNotes;
    int kitLayers = 0;         // the layers the kit gives the instrument
    QVector<int> thresholds;   // one per layer, the last one 1
    QStringList notes;         // what was left out, and what was done to fit

    // The bank's threshold table: the layers' own, unused ones 1 as the
    // window and build write them.
    void FillThresholds(ThresholdTable table) const;
};

// The one preparation path. Plans the layers once, on the kit's order (a
// hit of strength v plays the first layer whose range holds v/127), and
// decodes what the plan plays; a layer none of whose parts can be used is
// left out with a note and the plan made again without it, so a round
// robin of the same range serves in its place. Each part is made mono
// (stereo mixed as (L+R)/2 unless `leftOnly`), cut to its offset and end
// (clamped to the sample; an empty part is left out with a note), times its
// gain (one that is not finite counts as 1, with a note); a layer sums its
// parts. Then: reduction to eight, one scale for the whole instrument
// against clipping, trimmed tails, samples too short for a layer padded
// with silence, the budget of the bank named `bankName` (layers cut to the
// longest length that fits, or, under one second, one dropped by the
// reduction rule). Layer names are the first part's file name, shortened
// to what a bank holds and kept unique, extension ".wav". Writes into
// `workFolder`.
PreparedInstrument PrepareInstrument(const InstrumentSource &source, const QString &workFolder,
                                     const QString &bankName, const KitImportOptions &options,
                                     const SampleDecoder &decode, const std::atomic<bool> *cancelled);

// The layers a bank of `source` gets as its ranges plan them, before any
// sample is read: those that play some hit strength, at most eight.
int PlannedLayerCount(const InstrumentSource &source);

#endif
