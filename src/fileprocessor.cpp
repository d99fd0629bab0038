#include "fileprocessor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

#include "layerrules.h"
#include "resultcodes.h"
#include "zkslayout.h"

namespace {

constexpr int kHeaderSize = 44;
constexpr int kMaxNameLength = 60;
constexpr quint32 kMinDataSize = 512;
constexpr quint32 kMaxDataSize = 3141631; // 0x2FEFFF: the largest layer is 0x2FF000

std::unique_ptr<QTemporaryDir> workDir;

quint8 ByteAt(const QByteArray &header, int offset)
{
    return static_cast<quint8>(header.at(offset));
}

} // namespace

QString WorkFolder()
{
    if (!workDir || !workDir->isValid())
        workDir = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                                  + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
    if (!workDir->isValid())
        return QString();
    return workDir->path();
}

void RemoveWorkFolder()
{
    workDir.reset();
}

QByteArray ReadWavHeader(QFile &file)
{
    // isReadable() also turns away a file opened for writing only, which
    // would otherwise draw a warning from read().
    if (!file.isReadable() || !file.seek(0))
        return QByteArray();
    return file.read(kHeaderSize);
}

bool HasDataTag(const QByteArray &header)
{
    return header.size() >= 40 && header.mid(36, 4) == QByteArrayLiteral("data");
}

qint32 WavDataSize(const QByteArray &header)
{
    // A field of 2^31 or more reads as negative.
    return static_cast<qint32>(ReadLE(header, 40, 4));
}

bool IsStereo(const QByteArray &header)
{
    return header.size() > 22 && ByteAt(header, 22) == 2;
}

bool IsBankFormat(const QByteArray &header)
{
    // Format tag 1 (PCM), 16 bits, and the low 16 bits of 44100 Hz.
    return header.size() > 34 && ByteAt(header, 20) == 1 && ByteAt(header, 34) == 16
        && ByteAt(header, 24) == 0x44 && ByteAt(header, 25) == 0xAC;
}

quint32 WavSampleRate(const QByteArray &header)
{
    return ReadLE(header, 24, 4);
}

QByteArray CanonicalWavHeader(quint16 channels, quint32 rate, quint16 bits, quint32 dataSize,
                              quint16 formatTag)
{
    const quint32 frameBytes = quint32(channels) * (bits / 8);
    QByteArray h("RIFF");
    AppendLE(h, 36 + dataSize, 4);
    h.append("WAVEfmt ");
    AppendLE(h, 16, 4);
    AppendLE(h, formatTag, 2);
    AppendLE(h, channels, 2);
    AppendLE(h, rate, 4);
    AppendLE(h, rate * frameBytes, 4);
    AppendLE(h, frameBytes, 2);
    AppendLE(h, bits, 2);
    h.append("data");
    AppendLE(h, dataSize, 4);
    return h;
}

int OpenAndCheckFile(QString path)
{
    if (path.isEmpty()) {
        qDebug() << "No file choosen";
        return RESULT_NO_FILE;
    }
    if (QFileInfo(path).fileName().size() > kMaxNameLength)
        return RESULT_NAME_TOO_LONG;

    qDebug() << path << "File opening";
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        qDebug() << "Unable to open " << path;
        return RESULT_OPEN_FAILED;
    }
    const QByteArray header = ReadWavHeader(file);
    file.close();

    if (!HasDataTag(header)) {
        qDebug() << "format of file is apple-similar. Escaped";
        return RESULT_INCOMPATIBLE;
    }
    const quint32 size = static_cast<quint32>(WavDataSize(header));
    if (size < kMinDataSize || size > kMaxDataSize) {
        qDebug() << "File is too big";
        return RESULT_TOO_BIG;
    }
    const bool stereo = IsStereo(header);
    if (!IsBankFormat(header)) {
        qDebug() << "Incompatible format of file";
        return RESULT_FILE_ERROR;
    }
    qDebug() << "Measured waveform's length is " << size << "bytes";

    // The bank keeps one channel; every layer ends with at least one
    // 512-byte block that is partly or wholly padding.
    const quint32 audio = stereo ? size / 2 : size;
    const int layerSize = static_cast<int>((audio & ~quint32(511)) + 512);
    qDebug() << "Trimmed waveform's length is " << layerSize << "bytes";
    return layerSize;
}

namespace {

// A converter is looked for beside the program first (the build folder, or
// an unpacked copy), then where an installed program keeps its helpers
// (bin/../libexec/quadrelx8filegen), then on PATH.
QString FindConverter(const QString &name)
{
    QString program = name;
#ifdef Q_OS_WIN
    program += QStringLiteral(".exe");
#endif
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        for (const QString &candidate :
             {folder + QLatin1Char('/') + program,
              folder + QStringLiteral("/../libexec/quadrelx8filegen/") + program}) {
            const QFileInfo info(candidate);
            if (info.isFile() && info.isExecutable())
                return QDir::cleanPath(candidate);
        }
    }
    return QStandardPaths::findExecutable(program);
}

// How often a running converter is checked for cancellation.
constexpr int kConverterWaitSliceMs = 50;

// Runs a converter to its end, or kills it once `cancelled` is set; it is
// judged only by the file it leaves.
void RunConverter(const QString &name, const QStringList &arguments, bool trace,
                  const std::atomic<bool> &cancelled)
{
    if (cancelled)
        return;
    const QString program = FindConverter(name);
    if (trace)
        qDebug() << (QStringList(program.isEmpty() ? name : program) + arguments).join(QLatin1Char(' '));
    if (program.isEmpty()) {
        qDebug() << "Converter not found:" << name;
        return;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        qDebug() << "Converter did not run:" << name << process.errorString();
        return;
    }
    while (!process.waitForFinished(kConverterWaitSliceMs)) {
        if (process.state() == QProcess::NotRunning) {
            qDebug() << "Converter did not run:" << name << process.errorString();
            return;
        }
        if (cancelled) {
            process.kill();
            process.waitForFinished(-1);
            qDebug() << "Converter stopped:" << name;
            return;
        }
    }
    const QByteArray errors = process.readAllStandardError().trimmed();
    if (!errors.isEmpty())
        qDebug() << name << errors;
}

// A fresh numbered subfolder of the working folder for one conversion's
// result, so equally named files never replace each other's result.
QString NewResultFolder(const QString &work)
{
    static int next = 1;
    QDir dir(work);
    while (dir.exists(QString::number(next)))
        ++next;
    const QString name = QString::number(next++);
    dir.mkdir(name);
    return dir.filePath(name);
}

} // namespace

namespace {

// Only regular files are read: opening a named pipe or a device would wait
// for ever, with the window unable to respond.
bool IsReadableFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile probe(path);
    return probe.open(QIODevice::ReadOnly);
}

} // namespace

QString ConvertFile(QString chosen)
{
    static const std::atomic<bool> never(false);
    return ConvertFile(std::move(chosen), never);
}

QString ConvertFile(QString chosen, const std::atomic<bool> &cancelled)
{
    if (chosen.isEmpty() || !IsReadableFile(chosen))
        return chosen;
    const QString fileName = QFileInfo(chosen).fileName();
    const QString work = WorkFolder();
    if (work.isEmpty()) // no temporary location: a path that names no file
        return QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-unavailable/") + fileName;

    // The first converter reads the chosen file itself (it is started with
    // an argument list, so any name is safe); its output at the source's rate
    // and, when that is not 44100 Hz, the resampled one are the intermediates.
    const QString converted = work + QStringLiteral("/tempWav2.wav");
    const QString resampled = work + QStringLiteral("/tempWav3.wav");
    QFile::remove(converted);
    RunConverter(QStringLiteral("sndfile-convert-to-microsoft-pcm16"), {chosen, converted}, true,
                 cancelled);
    QFile::remove(resampled);

    // A cancelled first step leaves nothing to read, so no second one runs.
    QByteArray header;
    if (!cancelled) {
        QFile second(converted);
        if (second.open(QIODevice::ReadOnly))
            header = ReadWavHeader(second);
    }
    // A converter output too short to carry a rate gives no result.
    QString finished;
    if (header.size() >= 28) {
        const quint32 rate = WavSampleRate(header);
        if (rate == 44100) {
            finished = converted;
        } else {
            RunConverter(QStringLiteral("sr-convert"),
                         {converted, QString::number(rate), resampled, QStringLiteral("44100")},
                         false, cancelled);
            finished = resampled;
        }
    }

    const QString folder = NewResultFolder(work);
    const QString result = folder + QLatin1Char('/') + fileName;
    if (cancelled || finished.isEmpty() || !QFile::rename(finished, result))
        QDir(work).rmdir(QFileInfo(folder).fileName());
    QFile::remove(converted);
    QFile::remove(resampled);
    return result;
}

void DiscardConverted(const QString &path)
{
    // Only ever a result of ConvertFile, in a numbered folder of the working
    // folder: never a file of the user's.
    if (!workDir || !workDir->isValid())
        return;
    QDir folder = QFileInfo(path).dir();
    const QString number = folder.dirName();
    if (!folder.cdUp() || folder.absolutePath() != QDir(workDir->path()).absolutePath())
        return;
    QFile::remove(path);
    folder.rmdir(number);
}

namespace {

constexpr int kLayerSlots = 8;

quint8 StoredThreshold(qint32 threshold)
{
    return quint8(quint32(threshold) & 0x7F);
}

// Both size tables keep 13 bits: 512-byte blocks in the four-slot table,
// 256-byte units in the eight-slot one.
quint16 BlockCount(qint32 layerSize)
{
    return quint16((quint32(layerSize) >> 9) & 0x1FFF);
}

quint16 SizeUnits(qint32 layerSize)
{
    return quint16((quint32(layerSize) >> 8) & 0x1FFF);
}

// The classic rand() formula with its own state, so no global generator is
// disturbed and each bank's tag depends on its seed alone.
quint32 NextRandom(quint32 &state)
{
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7FFF;
}

int SampleMagnitude(const QByteArray &audio, int index)
{
    const quint16 raw = quint16(quint8(audio.at(2 * index)))
        | quint16(quint8(audio.at(2 * index + 1)) << 8);
    return qAbs(int(qint16(raw)));
}

// The device's tables only make sense for 0..8 used layers and sizes in
// whole 512-byte blocks.
bool LayerTableIsValid(const GeneratorArgs &args)
{
    if (args.LayerCount < 0 || args.LayerCount > kLayerSlots) {
        qDebug() << "Layer count out of range:" << args.LayerCount;
        return false;
    }
    for (int i = 0; i < kLayerSlots; ++i) {
        if (args.LayerSize[i] < 0 || args.LayerSize[i] % kBankBlock != 0) {
            qDebug() << "Layer size out of range:" << args.LayerSize[i] << "in slot" << i + 1;
            return false;
        }
    }
    // The device reads names as lines and, from the fifth layer on, sizes
    // from a table that can't hold 2 MiB: either would misplace layers.
    for (int i = 0; i < args.LayerCount; ++i) {
        if (NameHasControlCharacter(args.LayerName[i])) {
            qDebug() << "Layer name holds a control character:" << args.LayerName[i];
            return false;
        }
    }
    if (!LayerSizesAreStorable(args.LayerSize, args.LayerCount)) {
        qDebug() << "A layer is too big for the size table of" << args.LayerCount << "layers";
        return false;
    }
    return true;
}

qint64 BankSize(const GeneratorArgs &args, int headerSize)
{
    qint64 total = headerSize;
    for (qint32 size : args.LayerSize)
        total += size;
    return total;
}

// Reads a layer file's sample data, at most what a region of `layerSize`
// bytes can hold (twice that for stereo, which keeps one channel): a file
// changed since it was accepted may declare more than that, or hold less than
// it declares.
bool ReadLayerData(const QString &path, qint32 layerSize, QByteArray *data, bool *stereo)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Unable to open " << path;
        return false;
    }
    const QByteArray header = ReadWavHeader(file);
    if (header.size() < kHeaderSize || !file.seek(kHeaderSize)) {
        qDebug() << "Unable to read " << path;
        return false;
    }
    *stereo = IsStereo(header);
    // The size field is unsigned; one of 2^31 or more is simply large.
    const qint64 declared = quint32(WavDataSize(header));
    const qint64 limit = qint64(layerSize) * (*stereo ? 2 : 1);
    data->resize(int(qMin(declared, limit)));
    qint64 got = 0;
    while (got < data->size()) {
        const qint64 n = file.read(data->data() + got, data->size() - got);
        if (n < 0) {
            qDebug() << "Unable to read " << path << file.errorString();
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    data->resize(int(got));
    return true;
}

// Layer `slot`'s region: its left channel with the leading silence cut,
// exactly LayerSize bytes long.
bool MakeLayerRegion(const GeneratorArgs &args, int slot, QByteArray *region)
{
    const qint32 layerSize = args.LayerSize[slot];
    QByteArray data;
    bool stereo = false;
    if (!ReadLayerData(args.LayerPath[slot], layerSize, &data, &stereo))
        return false;
    const QByteArray audio = stereo ? KeepLeftChannel(data) : data;
    qDebug() << "Threshold of silence gate = " << args.SilenceGate;
    *region = FitToLayerSize(CutLeadingSilence(audio, args.SilenceGate), layerSize);
    return true;
}

// A short count is how a full disk shows first; the error only follows on
// the next write.
bool WriteAll(QSaveFile &target, const QByteArray &bytes)
{
    const qint64 written = target.write(bytes);
    if (written == bytes.size())
        return true;
    qDebug() << "Unable to write " << target.fileName() << "- wrote" << written << "of"
             << bytes.size() << "bytes";
    return false;
}

qint32 WriteBank(QSaveFile &target, const GeneratorArgs &args, const QByteArray &header)
{
    if (!WriteAll(target, header))
        return GENERATE_TARGET_FAILED;
    qDebug() << "Quantity Of Files" << args.LayerCount;
    for (int slot = 0; slot < args.LayerCount; ++slot) {
        QByteArray region;
        if (!MakeLayerRegion(args, slot, &region))
            return GENERATE_LAYER_FAILED;
        if (!WriteAll(target, region))
            return GENERATE_TARGET_FAILED;
        qDebug() << "Writing Data From " << args.LayerPath[slot];
    }
    return GENERATE_OK;
}

} // namespace

QByteArray KeepLeftChannel(const QByteArray &frames)
{
    // Half the bytes, rounded down. When the input ends inside a frame and
    // that half is odd, its last byte is the input's byte at that offset.
    const int audioLength = frames.size() >> 1;
    QByteArray audio = frames.left(audioLength);
    for (int j = 0; j < audioLength / 2; ++j) {
        audio[2 * j] = frames.at(4 * j);
        audio[2 * j + 1] = frames.at(4 * j + 1);
    }
    return audio;
}

QByteArray CutLeadingSilence(const QByteArray &audio, quint16 gate)
{
    const int samples = audio.size() / 2;
    int k = 0;
    while (k < samples && SampleMagnitude(audio, k) < gate)
        ++k;
    return audio.mid(2 * k);
}

QByteArray FitToLayerSize(const QByteArray &audio, qint32 layerSize)
{
    return audio.leftJustified(qMax(layerSize, 0), '\0', true);
}

quint32 RandomTag(qint64 seconds)
{
    quint32 state = quint32(seconds);
    const quint32 first = NextRandom(state);
    const quint32 second = NextRandom(state);
    return first * second;
}

QByteArray BuildZKSHeader(const GeneratorArgs &args, quint32 tag)
{
    const int n = args.LayerCount;
    QByteArray h(kBankMakerLine, kBankMakerLineLength);
    AppendLE(h, tag, 4);
    h.append(kBankSignature, kBankSignatureLength);

    for (int k = 0; k < 3; ++k)
        h.append(char(n >= 4 ? StoredThreshold(args.Threshold[k]) : kBankFewLayerThresholds[k]));
    // A four-slot entry beyond the used layers repeats the one before it.
    quint16 blocks = 0;
    for (int k = 0; k < 4; ++k) {
        if (k == 0 || k < n)
            blocks = BlockCount(args.LayerSize[k]);
        AppendLE(h, blocks, 2);
    }
    h.append(16, '\0'); // four-slot offsets, known once the header length is

    for (int k = 0; k < kLayerSlots; ++k)
        h.append(char(StoredThreshold(args.Threshold[k])));
    for (int k = 0; k < kLayerSlots; ++k)
        AppendLE(h, SizeUnits(args.LayerSize[k]), 2);
    h.append(8, '\0');

    h.append('\n');
    h.append(args.TargetName.toUtf8());
    h.append('\n');
    for (int k = 0; k < kLayerSlots; ++k) {
        h.append(args.LayerName[k].toUtf8());
        h.append('\n');
    }
    // Never empty: a name block ending on a block boundary gets a whole block.
    h.append(kBankBlock - h.size() % kBankBlock, '~');

    quint32 offset = quint32(h.size());
    for (int k = 0; k < 4; ++k) {
        if (k > 0 && k < n)
            offset += quint32(args.LayerSize[k - 1]);
        WriteLE(h, kBankFourSlotOffsetsOffset + 4 * k, offset, 4);
    }
    return h;
}

int ResultCodeForGenerator(qint32 result)
{
    return result == GENERATE_NO_SPACE ? RESULT_NO_SPACE : RESULT_OPEN_FAILED;
}

qint32 GenerateZKS(GeneratorArgs args)
{
    if (!LayerTableIsValid(args))
        return GENERATE_LAYER_FAILED;
    if (NameHasControlCharacter(args.TargetName)) {
        qDebug() << "Bank name holds a control character:" << args.TargetName;
        return GENERATE_TARGET_FAILED;
    }
    const QByteArray header
        = BuildZKSHeader(args, RandomTag(QDateTime::currentSecsSinceEpoch()));
    // Checked before the target is touched, so a bank that cannot fit never
    // costs the user an existing file.
    if (BankSize(args, header.size()) > kBankBudget) {
        qDebug() << "Space is not enough";
        return GENERATE_NO_SPACE;
    }

    // QSaveFile writes beside the target and replaces it only on commit(), so
    // a failure part way leaves an existing bank as it was. An empty name is
    // refused first: QSaveFile would write into the current folder before
    // failing.
    QSaveFile target(args.TargetPath);
    if (args.TargetPath.isEmpty() || !target.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qDebug() << "Unable to open " << args.TargetPath;
        return GENERATE_TARGET_FAILED;
    }
    const qint32 result = WriteBank(target, args, header);
    if (result != GENERATE_OK) {
        target.cancelWriting();
        return result;
    }
    if (!target.commit()) {
        qDebug() << "Unable to write " << args.TargetPath << target.errorString();
        return GENERATE_TARGET_FAILED;
    }
    return GENERATE_OK;
}
