#ifndef FILEPROCESSOR_H
#define FILEPROCESSOR_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <atomic>
#include <functional>

#include "layerrules.h"
#include "zkslayout.h"

class QFile;
struct PcmSound;

// The private folder that holds converted layer files for the life of the
// window (or of one zkstool run). Created on first use under the system's
// temporary location; never a folder the user owns.
QString WorkFolder();
// Removes the working folder with everything in it. The next WorkFolder()
// call makes a fresh one.
void RemoveWorkFolder();

// --- WAVE header: the first 44 bytes, read at fixed offsets ----------------
constexpr int kWavHeaderSize = 44;
QByteArray ReadWavHeader(QFile &file);
bool HasDataTag(const QByteArray &header);
qint32 WavDataSize(const QByteArray &header);
bool IsStereo(const QByteArray &header);
bool IsBankFormat(const QByteArray &header);
quint32 WavSampleRate(const QByteArray &header);
// Reads at most `bytes` from the file's current position into `data`; a file
// that ends sooner gives what it holds. False only when reading fails.
bool ReadUpTo(QFile &file, qint64 bytes, QByteArray *data);
// The canonical 44-byte header (16-byte format chunk, data tag at offset 36)
// of a WAVE holding `dataSize` bytes of samples.
QByteArray CanonicalWavHeader(quint16 channels, quint32 rate, quint16 bits, quint32 dataSize,
                              quint16 formatTag = 1);

// --- Sound intake ----------------------------------------------------------
// How a conversion runs. The defaults are the window's: the converter
// programs, in the working folder, silent, to the end.
struct ConvertOptions {
    // Once set (from a signal handler or another thread) the conversion
    // stops: a running converter is killed, the intermediates and the
    // result's folder are removed, and the returned path names no file.
    const std::atomic<bool> *cancelled = nullptr;
    // Runs the converters' two steps as functions of this process instead of
    // starting their programs; the files come out the same to the byte.
    bool inProcess = false;
    // Where the intermediates and the result go; empty: WorkFolder().
    // Conversions that run at the same time need folders of their own.
    QString workFolder;
    // Told the share of the whole conversion done, in whole per cents,
    // rising; called on the converting thread.
    std::function<void(int percent)> progress;
    // In this process, when above 0: only the chosen file's first this many
    // frames are converted, for a caller that keeps no more of the sound.
    qint64 inputFrameLimit = 0;
};

// Converts a chosen sound file into a 16-bit PCM WAVE at 44100 Hz inside the
// working folder and returns its path. Returns the input unchanged when it
// cannot be opened; a failed conversion returns a path that names no file.
QString ConvertFile(QString chosen);
// The same, run as `options` say. When no result is made, `reason` gets why
// in a few words about the chosen file, in the converter's own words where
// it gave any ("Format not recognised.", "not a regular file",
// "cancelled").
QString ConvertFile(QString chosen, const ConvertOptions &options, QString *reason = nullptr);
// Decodes a chosen sound file into memory as ConvertFile converts it in
// this process (options.inProcess is implied): 16-bit PCM at 44100 Hz, at
// most two channels, the very samples its result would hold, without the
// file. False with `reason` as ConvertFile would give it.
bool DecodeSound(const QString &chosen, const ConvertOptions &options, PcmSound *sound, QString *reason);
// A fresh numbered subfolder of `work` (`work`/1, `work`/2, ...) for one
// result, so equally named files never replace each other; empty when none
// can be made. ConvertFile puts each result in one.
QString NewResultFolder(const QString &work);
// Removes a result of ConvertFile that will not become a layer. Paths
// outside the working folder are left alone.
void DiscardConverted(const QString &path);
// The longest file name the sound check accepts, in characters.
constexpr int kMaxNameLength = 60;
// The layer size in bytes (a positive multiple of 512) or a negative
// ResultCode.
int OpenAndCheckFile(QString path);
// As above; when the file cannot be opened, `why` says why in the system's
// words ("Too many open files"), so a caller can tell the file from the
// machine at fault.
int OpenAndCheckFile(const QString &path, QString *why);
// The layer size OpenAndCheckFile gives a 16-bit WAVE of `dataSize` bytes of
// samples: the kept channel's bytes rounded down to 512, plus 512.
qint32 LayerSizeFor(quint32 dataSize, bool stereo);
// The verdict OpenAndCheckFile would give on ConvertFile's result, known
// from the header alone for a file of 16-bit samples at 44100 Hz, which the
// conversion only copies. False for any other file: only converting tells.
bool CheckWithoutConverting(const QString &path, int *verdict);

// --- Bank generation -------------------------------------------------------
struct GeneratorArgs {
    QString TargetPath;
    QString TargetName;
    QString LayerPath[kMaxLayers];
    QString LayerName[kMaxLayers];
    qint32 LayerSize[kMaxLayers] = {};
    qint32 LayerCount = 0;
    qint32 Threshold[kMaxLayers] = {};
    quint16 SilenceGate = 0;
    // False: a file at TargetPath, even one that appears while the bank is
    // written, is kept and the generator fails with GENERATE_TARGET_EXISTS.
    bool ReplaceExisting = true;
};

// One converted layer as the window and zkstool hold it.
struct LayerFile {
    QString path;
    QString name; // as written into the bank
    qint32 size = 0;
};

// The generator's record for `layers` (layer 1 first, at most kMaxLayers),
// the thresholds of all eight layers (indexed by layer), the gate's
// amplitude and the bank's path; the bank's own name is the path's last
// part.
GeneratorArgs MakeGeneratorArgs(const QVector<LayerFile> &layers, const ThresholdTable thresholds,
                                quint16 gate, const QString &targetPath);

// Results of GenerateZKS. On any failure an existing file at the target path
// is left exactly as it was and no new file is left behind.
enum GeneratorResult : qint32 {
    GENERATE_OK = 0,
    GENERATE_TARGET_FAILED = -1, // target could not be opened, written or replaced, or
                                 // the bank's name holds a control character
    GENERATE_NO_SPACE = -2,      // bank would exceed kBankBudget
    GENERATE_LAYER_FAILED = -3,  // a layer file could not be opened or read, the layer
                                 // count or a layer size is out of range, a layer name
                                 // holds a control character, or a bank of five or more
                                 // layers holds a layer of kSizeUnitsLimit bytes or more
    GENERATE_TARGET_EXISTS = -4, // ReplaceExisting is false and a file has the target's name
};

// The result code under which the user is told of a failed generation: there
// is no room for the bank, or the bank or a layer file could not be used.
int ResultCodeForGenerator(qint32 result);

// Writes the bank: header, then each used layer's region of exactly its
// LayerSize bytes. The target is replaced only once the whole bank is written.
qint32 GenerateZKS(GeneratorArgs args);
// The same; on failure `reason` (when given) says why in a few words: the
// system's own for the bank file, or which layer file could not be read.
qint32 GenerateZKS(GeneratorArgs args, QString *reason);

// Gives the finished file `written` the name `target` only when no file (nor
// link) has that name, in one step where the system offers one; false with
// the reason ("already exists" when one has) otherwise, `written` left as it
// was.
bool PlaceWithoutReplacing(const QString &written, const QString &target, QString *reason);

// The complete bank header for `args` with the given random tag: fixed part,
// both table views (offsets included), name block and "~" fill to a multiple
// of 512 bytes.
QByteArray BuildZKSHeader(const GeneratorArgs &args, quint32 tag);

// The random tag of a bank generated at `seconds` since the epoch: the
// product of the first two draws (each 0..32767) of a generator seeded with
// that time, so banks made in the same second share it.
quint32 RandomTag(qint64 seconds);

// --- Per-layer work ---------------------------------------------------------
// Keeps the first (left) sample of each 4-byte stereo frame, in place. What
// is left holds half the bytes, rounded down.
void KeepLeftChannelInPlace(QByteArray *frames);
// How many leading bytes the gate cuts: the 16-bit samples whose magnitude
// is below `gate` (-32768 has magnitude 32768). A gate of 0 cuts nothing; a
// layer that never reaches the gate loses every whole sample.
int LeadingSilenceBytes(const QByteArray &audio, quint16 gate);
// The audio without those bytes.
QByteArray CutLeadingSilence(const QByteArray &audio, quint16 gate);

#endif
