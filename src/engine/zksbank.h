#ifndef ZKSBANK_H
#define ZKSBANK_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <memory>

#include "zkslayout.h"

class QFile;

// Reading a bank file back: the header fields as stored, where each layer's
// audio lies, and everything about the file that doesn't fit together, in
// words. Any bytes at all may come in; nothing here trusts a header field
// before checking it against the file's length.


// One thing about a bank file that does not fit together, or keeps it from
// being read: its kind, the layer it is about, and the words zkstool info
// prints.
struct BankProblem {
    enum class Kind {
        NotABank,   // no bank's signature, or the file ends inside the header
        PastTheEnd, // `layer`'s region lies or runs past the end of the file
        Unreadable, // the file could not be read at all
        Damaged,    // anything else
    };
    Kind kind = Kind::Damaged;
    int layer = 0; // 1..8 when about one layer
    QString text;

    bool operator==(const BankProblem &other) const;
};

// The problems' words, one each.
QStringList ProblemTexts(const QVector<BankProblem> &problems);

// One used layer's region in the file.
struct ZksRegion {
    int layer = 0; // 1..8
    QString name;
    int threshold = 0;  // as stored, 0..127
    qint64 offset = 0;  // where the region starts
    qint64 size = 0;    // its layer size
    qint64 inFile = 0;  // how much of it the file holds (less when cut short)
};

struct ZksBank {
    qint64 fileSize = 0;

    bool fixedPartComplete = false; // the first 104 bytes are there
    QByteArray makerLine;           // 32 bytes as stored
    quint32 randomTag = 0;
    bool signatureOk = false;
    quint8 fourSlotThresholds[3] = {};
    quint16 fourSlotBlocks[4] = {};  // layer sizes in 512-byte blocks
    quint32 fourSlotOffsets[4] = {}; // region offsets of layers 1..4
    quint8 thresholds[kMaxLayers] = {};
    quint16 sizeUnits[kMaxLayers] = {}; // layer sizes in 256-byte units, 13 bits

    bool namesComplete = false; // all ten line feeds were found
    QString bankName;
    QString layerNames[kMaxLayers];
    qint64 nameBlockEnd = 0; // just past the tenth line feed

    qint64 headerLength = 0; // where layer 1 starts, as the header states it
    int layerCount = 0;      // used slots 1..layerCount
    QVector<ZksRegion> regions;

    QVector<BankProblem> problems; // empty for a sound bank

    // The file ReadZksBank read the header from, kept open so the regions
    // come from that same file even if its name is given to another.
    std::shared_ptr<QFile> file;
};

// Reads a bank from its first bytes. `head` is the start of the file (the
// whole file when it is small); `fileSize` is the file's full length.
ZksBank ParseZksBank(const QByteArray &head, qint64 fileSize);

// Opens the bank at `path` once (a regular file only: a FIFO or device is
// refused without waiting on it) and reads its header. Returns false, with a
// reason in `error`, only when the file cannot be read at all; a damaged
// bank still returns true and lists what is wrong in `problems`.
bool ReadZksBank(const QString &path, ZksBank *bank, QString *error);

// The bytes of a region that the bank's file holds (at most region.inFile),
// read through the file ReadZksBank opened. Returns false with a reason when
// reading fails.
bool ReadZksRegion(const ZksBank &bank, const ZksRegion &region, QByteArray *audio,
                   QString *error);

// File names for the extracted layers, one per region, all different from
// each other (ignoring case) and safe to create inside one folder: no folder
// separators, no "." or "..", no device names, no control characters, not
// empty, of moderate length, ending in ".wav". Names that say nothing usable
// fall back to "layerN.wav".
QStringList WaveNamesFor(const QVector<ZksRegion> &regions);

#endif
