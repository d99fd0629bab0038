#ifndef BANKREADER_H
#define BANKREADER_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include "fileprocessor.h"
#include "layerrules.h"
#include "zksbank.h"

// Opening an existing bank to edit it: each layer comes back as a file the
// generator takes, with what the bank stores about it, so generating again
// without changes writes the same bank.

struct BankLayer {
    LayerFile file; // name and size exactly as stored
    int threshold = 0;
};

// Reads the bank at `bankPath` (as ReadZksBank does) and writes each layer's
// audio, without its zero padding, as a canonical 16-bit mono 44100 Hz WAVE
// into a fresh numbered subfolder of `workFolder` (as ConvertFile does, so
// DiscardConverted removes it when `workFolder` is WorkFolder()). The file
// gets a safe name (WaveNamesFor); the layer keeps the name stored in the
// bank, its region's size as its layer size, and its stored threshold.
// `thresholds` gets the thresholds of all eight slots as stored, indexed by
// layer, unused slots included: fed back to MakeGeneratorArgs with gate 0,
// the layers make the same bank again, byte for byte but for its random
// tag. Returns false, writing nothing and changing neither `layers` nor
// `thresholds`, when the bank cannot be read (one Unreadable problem), is
// damaged (its problems as ReadZksBank lists them) or a file cannot be
// written (one problem saying which).
bool ReadBankLayers(const QString &bankPath, const QString &workFolder, QVector<BankLayer> *layers,
                    ThresholdTable thresholds, QVector<BankProblem> *problems);

// A region's audio without the zeros that pad it to its layer size: its
// trailing zero bytes go, whole 16-bit samples stay. Silence that ended the
// sound goes too; the generator pads it back all the same.
QByteArray DropPadding(const QByteArray &region);

#endif
