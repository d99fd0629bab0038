#ifndef BANKBUILD_H
#define BANKBUILD_H

#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <functional>

#include "fileprocessor.h"
#include "layerrules.h"
#include "refusal.h"

// One bank made from sounds and layers of other banks: each sound taken in
// (TakeInSound), charged against the budget and the size tables, its tail
// trimmed, the layers put in order of loudness, then the bank written
// through MakeGeneratorArgs and GenerateZKS as the window writes it.

// One bank to build, as zkstool's commands ask for it.
struct BankRequest {
    QStringList files; // 1 to kMaxLayers sounds, layer 1 first
    QString target;
    quint16 gate = 0;
    ThresholdTable thresholds = {};
    bool force = false;     // replace an existing bank
    bool inProcess = true;  // convert in this process, not through the converter programs
    bool dryRun = false;    // size the bank but write nothing, not even its folder
    bool trimTails = false; // trim each layer's quiet tail ...
    double tailDbfs = -60;  // ... after its last sample above this level
    bool orderByLoudness = false; // loudest first, thresholds from the levels
    bool thresholdsGiven = false; // ... unless the thresholds were given
    // Layers taken from banks, by their place in `files`: already in the
    // bank's form, they are neither converted nor checked again.
    QHash<int, LayerFile> opened;
    // How the user knows those layers, "kit2.zks, layer 4 (h1.wav)", by
    // their place in `files`: their files are temporary.
    QHash<int, QString> shownAs;
    const std::atomic<bool> *cancelled = nullptr;
    // Makes the folder for the converted files once the first file is to be
    // converted, and gives its path (empty when none could be made). Unset:
    // the process's own working folder.
    std::function<QString()> makeWorkFolder;
};

struct BankResult {
    enum class Outcome { Built, Refused, Interrupted };
    Outcome outcome = Outcome::Built;
    // The report for standard output: a line per layer, then the bank
    // written (or, in a dry run, the bank that would be).
    QStringList lines;
    Refusal refusal; // when refused
    int layers = 0;
    qint64 bytes = 0; // the bank's size
};

// Converts, checks and charges each file, then writes the bank, refusing the
// first file (or the bank) the window would refuse.
BankResult BuildBank(const BankRequest &request);

// Puts `layers` loudest first by their attack, measured as the bank holds
// them with the gate's amplitude, and, when `spread`, sets the thresholds
// from those levels (LoudnessOrder); each level used goes to `lines`.
// Returns why not, or nothing, with `layers` left as they were.
QString OrderLayersByLoudness(QVector<LayerFile> *layers, quint16 gate, bool spread,
                              ThresholdTable thresholds, QStringList *lines);

#endif
