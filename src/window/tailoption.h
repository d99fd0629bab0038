#ifndef TAILOPTION_H
#define TAILOPTION_H

#include <QString>
#include <QtGlobal>

#include "kitpipeline.h"
#include "zkslayout.h"

// The window's "Trim tails" option. Each layer keeps its untrimmed converted
// file beside the slot table, so turning the option off and on again always
// starts from the whole sound. With the option on, the slot table's path and
// size are those of the trimmed copy; with it off, those of the untrimmed
// file.

// The untrimmed converted file of each layer and its layer size, indexed by
// layer - 1 as the slot table's paths and sizes are.
extern QString SlotSource[kMaxLayers];
extern qint32 SlotSourceSize[kMaxLayers];

// Empties both tables, as the window's constructor empties the slot table.
void ClearSlotSources();

// The window's trimmed layer (kitpipeline.h): at the default level, the copy
// in a fresh numbered folder of the working folder.
SizedFile TrimmedLayer(const QString &source, qint32 sourceSize);

// The file and size layer `index` (layer - 1) takes from its untrimmed file:
// the trimmed copy when `trim`, else the untrimmed file itself.
SizedFile LayerFromSource(int index, bool trim);

// Records the freshly converted and checked file of layer `index` (layer -
// 1), whose layer size the slot table holds, as that layer's untrimmed file.
// When `trim`, `converted` and the table's size become those of the trimmed
// copy. The untrimmed file a refused or removed layer left in that slot is
// discarded first.
void TakeConvertedLayer(int index, bool trim, QString *converted);

// Makes the first `count` layers afresh from their untrimmed files, trimmed
// when `trim`, and sets `used` to the space they then take. Returns 0, or,
// changing nothing, the result code that refuses them as the window refuses
// a layer: RESULT_NO_SPACE over the device's budget, RESULT_TOO_BIG when
// the size tables cannot describe them. Trimmed copies no layer uses any
// more are discarded.
int ApplyTailOption(int count, bool trim, qint32 *used);

// Discards every file the first `count` layers hold, trimmed and untrimmed.
void DiscardSlotFiles(int count);

// "Trimming saves 120.5 KB (1.4 s)" for layer `layer` (1 KB = 1000 bytes;
// the time is that of the bank's mono 44100 Hz sound); empty when trimming
// saved that layer nothing.
QString TrimToolTipLine(int layer);

// "Trimming saves 241.2 KB in all" over the first `count` layers; empty when
// trimming saved nothing.
QString TrimTotalToolTip(int count);

#endif
