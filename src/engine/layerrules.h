#ifndef LAYERRULES_H
#define LAYERRULES_H

#include <QString>
#include <QVector>
#include <QStringList>
#include <QtGlobal>

#include "zkslayout.h"

// Rules about layers that the window and zkstool share, free of widgets.

constexpr int kThresholdSliderMax = 126;
// Hits come in strengths 1..127.
constexpr int kHitStrengths = 127;
// The space bar divides by the largest layer's size, one layer-size step
// below the budget, so a bank holding that layer already reads 0 %.
constexpr qint32 kPercentDivisor = kLargestLayerSize;

// Thresholds are indexed by layer number: element 0 is unused.
using ThresholdTable = qint32[kMaxLayers + 1];

// Default spread for `count` filled layers: the last filled layer and all
// layers above it get 1, the ones before it rise by a fixed step.
void DefaultThresholds(ThresholdTable thresholds, int count);

// The order that puts layers loudest first: element i is the index in
// `levels` (dB, minus infinity for silence) of the i-th loudest layer. Equal
// levels keep their order.
QVector<int> LoudestFirst(const QVector<double> &levels);

// Thresholds for as many layers as there are levels (dB, loudest first, as
// LoudestFirst orders them; at most kMaxLayers are used), spread by how loud
// each layer is. Layer 1 gets the default spread's top threshold for that
// many layers, the last layer 1, and each one between 1 plus its share of
// that range in proportion to its level between the softest and the
// loudest, rounded. Levels below -130 dB, silence among them, count as
// -130 dB. When the loudest and the softest are equal, the default spread
// stands. Layers above the count get the default spread's values.
//
// The result always passes ThresholdsAreValid: a threshold that rounds onto
// or above the one before it goes one below that one, and none goes below
// count - n + 1 for layer n, the least that leaves each later layer one step
// down to 1; so layers that round onto the bottom climb from 1 upwards
// instead, pushing the earlier ones up.
void ThresholdsFromLevels(ThresholdTable thresholds, const QVector<double> &levelsLoudestFirst);

// Sets the threshold of `selected` from a slider position, clamped so the
// strictly falling order can be kept, then restores that order around it.
void MoveThreshold(ThresholdTable thresholds, int count, int selected, int position);

// The layer the device plays for a hit of `strength`: the first of the
// `count` layers whose threshold is at most that strength, so the one with
// the highest such threshold. The last layer for a strength below every
// threshold; 0 when there are no layers.
int LayerForHit(const ThresholdTable thresholds, int count, int strength);

// The hits layer `layer` of `count` plays, as its row shows them: "81–96",
// "85–127" for the first layer, "43" for a range of one.
QString HitRangeShort(const ThresholdTable thresholds, int count, int layer);

// True when the first `count` thresholds fall strictly and end at 1, each
// within what the slider lets the user choose.
bool ThresholdsAreValid(const ThresholdTable thresholds, int count);

// The silence gate: five slider positions, each with a label and a sample
// amplitude. Returns false for a position outside 0..4.
constexpr int kGateLevels = 5;
bool GateForPosition(int position, QString *label, quint16 *amplitude);

// Percentage shown by the "Available Space" bar.
qint32 AvailablePercentFor(qint32 usedSpace);

// The device reads a bank's names as lines, so a name holding a line feed or
// any other control character (U+0000..U+001F, U+007F) would shift every
// name and layer after it.
bool NameHasControlCharacter(const QString &name);

// True when a bank of `count` layers with these sizes (indexed by layer - 1)
// describes every layer exactly: from five layers on, no layer may reach
// kSizeUnitsLimit.
bool LayerSizesAreStorable(const qint32 sizes[], int count);
// Whether a bank of `count` layers with these sizes can be made, as the
// window and zkstool refuse a layer: 0, or RESULT_NO_SPACE when they exceed
// the device's budget, or else RESULT_TOO_BIG when the size tables cannot
// describe them.
int LayerSizesVerdict(const qint32 sizes[], int count);

// The part of a path after its last "/" (a backslash is an ordinary
// character here).
QString LastPathPart(const QString &path);

// What zkstool says of more files than a bank has layers.
QString TooManyFilesText(int given);

// The suffixes (lower case, no dot) of the sound files the open dialog lists
// and zkstool build-all gathers: the formats the converters read.
QStringList SoundFileSuffixes();
// True when a file name ends in one of them, in any case.
bool HasSoundFileSuffix(const QString &fileName);

// Natural order of names, for the layers of a folder: runs of digits compare
// by their value ("hit2" before "hit10"), the rest without regard to case.
// Names that still tie compare as plain text, so the order is total and the
// same on every system whatever its locale, and so is every bank made from
// it. Negative, zero or positive as `a` sorts before, with or after `b`.
int NaturalCompare(const QString &a, const QString &b);

#endif
