#include "fileprocessor.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#endif

#include "explain.h"
#include "layerrules.h"
#include "logging.h"
#include "resultcodes.h"
#include "zkslayout.h"

namespace {

// The bank's reader decodes a name as UTF-8, which drops a byte-order mark
// at its start: a name that began with one would read back as another, and
// the bank could not be made again as it is.
QString WithoutByteOrderMarks(QString name)
{
    while (name.startsWith(QChar(0xFEFF)))
        name.remove(0, 1);
    return name;
}

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
bool LayerTableIsValid(const GeneratorArgs &args, QString *reason)
{
    if (args.LayerCount < 0 || args.LayerCount > kMaxLayers) {
        qCDebug(lcZk) << "Layer count out of range:" << args.LayerCount;
        *reason = QStringLiteral("a bank holds 0 to %1 layers, not %2")
                      .arg(kMaxLayers)
                      .arg(args.LayerCount);
        return false;
    }
    for (int i = 0; i < kMaxLayers; ++i) {
        if (args.LayerSize[i] < 0 || args.LayerSize[i] % kBankBlock != 0) {
            qCDebug(lcZk) << "Layer size out of range:" << args.LayerSize[i] << "in slot" << i + 1;
            *reason = QStringLiteral("layer %1 has %2 bytes; a layer holds 0 or more whole "
                                     "%3-byte blocks")
                          .arg(i + 1)
                          .arg(args.LayerSize[i])
                          .arg(kBankBlock);
            return false;
        }
    }
    // The device reads names as lines and, from the fifth layer on, sizes
    // from a table that can't hold 2 MiB: either would misplace layers.
    for (int i = 0; i < args.LayerCount; ++i) {
        if (NameHasControlCharacter(args.LayerName[i])) {
            qCDebug(lcZk) << "Layer name holds a control character:" << args.LayerName[i];
            *reason = QStringLiteral("layer %1: %2")
                          .arg(QString::number(i + 1), ControlCharacterDetail());
            return false;
        }
    }
    if (!LayerSizesAreStorable(args.LayerSize, args.LayerCount)) {
        qCDebug(lcZk) << "A layer is too big for the size table of" << args.LayerCount << "layers";
        *reason = SizeTableDetail();
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

QString UnreadableLayer(const QString &path)
{
    return QStringLiteral("the layer file %1 could not be read").arg(path);
}

// Reads a layer file's sample data, at most what a region of `layerSize`
// bytes can hold (twice that for stereo, which keeps one channel): a file
// changed since it was accepted may declare more than that, or hold less than
// it declares. `openError` gets the system's reason when it cannot be opened.
bool ReadLayerData(const QString &path, qint32 layerSize, QByteArray *data, bool *stereo,
                   QString *openError)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcZk) << "Unable to open " << path;
        *openError = file.errorString();
        return false;
    }
    const QByteArray header = ReadWavHeader(file);
    if (header.size() < kWavHeaderSize || !file.seek(kWavHeaderSize)) {
        qCDebug(lcZk) << "Unable to read " << path;
        return false;
    }
    *stereo = IsStereo(header);
    // The size field is unsigned; one of 2^31 or more is simply large.
    const qint64 declared = quint32(WavDataSize(header));
    const qint64 limit = qint64(layerSize) * (*stereo ? 2 : 1);
    if (!ReadUpTo(file, qMin(declared, limit), data)) {
        qCDebug(lcZk) << "Unable to read " << path << file.errorString();
        return false;
    }
    return true;
}

// A short count is how a full disk shows first; the system's reason only
// comes with the next write, so the rest is offered again.
bool WriteAll(QFileDevice &target, const char *bytes, qint64 size, QString *reason)
{
    qint64 written = 0;
    while (written < size) {
        const qint64 n = target.write(bytes + written, size - written);
        if (n <= 0)
            break;
        written += n;
    }
    if (written == size)
        return true;
    qCDebug(lcZk) << "Unable to write " << target.fileName() << "- wrote" << written << "of"
                  << size << "bytes";
    *reason = target.error() != QFileDevice::NoError
        ? target.errorString()
        : QStringLiteral("only %1 of %2 bytes could be written").arg(written).arg(size);
    return false;
}

bool WriteZeros(QFileDevice &target, qint64 size, QString *reason)
{
    static const char zeros[65536] = {};
    for (qint64 left = size; left > 0; left -= qint64(sizeof zeros)) {
        if (!WriteAll(target, zeros, qMin(left, qint64(sizeof zeros)), reason))
            return false;
    }
    return true;
}

// Writes layer `slot`'s region: its left channel with the leading silence
// cut, zero-padded to exactly LayerSize bytes. `buffer` is reused from one
// layer to the next, so the layers are read without fresh memory each time.
qint32 WriteLayerRegion(QFileDevice &target, const GeneratorArgs &args, int slot,
                        QByteArray &buffer, QString *reason)
{
    const qint32 layerSize = qMax(args.LayerSize[slot], 0);
    bool stereo = false;
    QString openError;
    if (!ReadLayerData(args.LayerPath[slot], layerSize, &buffer, &stereo, &openError)) {
        *reason = UnreadableLayer(args.LayerPath[slot]);
        // Out of descriptors, the file is not at fault: say what is.
#ifdef Q_OS_UNIX
        for (const int error : {EMFILE, ENFILE}) {
            if (openError == QString::fromLocal8Bit(std::strerror(error)))
                *reason += QStringLiteral(" (%1)").arg(openError);
        }
#endif
        return GENERATE_LAYER_FAILED;
    }
    if (stereo)
        KeepLeftChannelInPlace(&buffer);
    qCDebug(lcZk) << "Threshold of silence gate = " << args.SilenceGate;
    const int cut = LeadingSilenceBytes(buffer, args.SilenceGate);
    const qint64 kept = qMin(qint64(buffer.size() - cut), qint64(layerSize));
    const bool written = WriteAll(target, buffer.constData() + cut, kept, reason)
        && WriteZeros(target, layerSize - kept, reason);
    return written ? GENERATE_OK : GENERATE_TARGET_FAILED;
}

qint32 WriteBank(QFileDevice &target, const GeneratorArgs &args, const QByteArray &header,
                 QString *reason)
{
    if (!WriteAll(target, header.constData(), header.size(), reason))
        return GENERATE_TARGET_FAILED;
    qCDebug(lcZk) << "Quantity Of Files" << args.LayerCount;
    QByteArray buffer;
    for (int slot = 0; slot < args.LayerCount; ++slot) {
        const qint32 written = WriteLayerRegion(target, args, slot, buffer, reason);
        if (written != GENERATE_OK)
            return written;
        qCDebug(lcZk) << "Writing Data From " << args.LayerPath[slot];
    }
    return GENERATE_OK;
}

// Writes the bank beside the target under a name of its own, then gives it
// the target's name only if no file has that name by then, so a bank that
// appeared meanwhile is never lost. That name is short and never built from
// the target's, which may already take all the bytes a name can have.
qint32 WriteBankBeside(const GeneratorArgs &args, const QByteArray &header, QString *reason)
{
    const QFileInfo target(args.TargetPath);
    QFile partial;
    for (int attempt = 0; attempt < 16 && !partial.isOpen(); ++attempt) {
        partial.setFileName(target.absolutePath() + QStringLiteral("/.zks-%1.part")
                                  .arg(QRandomGenerator::global()->generate(), 8, 16,
                                       QLatin1Char('0')));
        if (!partial.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)
            && !partial.exists()) {
            *reason = partial.errorString();
            return GENERATE_TARGET_FAILED;
        }
    }
    if (!partial.isOpen()) {
        *reason = partial.errorString();
        return GENERATE_TARGET_FAILED;
    }
    qint32 result = WriteBank(partial, args, header, reason);
#ifdef Q_OS_UNIX
    if (result == GENERATE_OK && ::fsync(partial.handle()) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        result = GENERATE_TARGET_FAILED;
    }
#endif
    partial.close();
    if (result == GENERATE_OK && !PlaceWithoutReplacing(partial.fileName(), args.TargetPath, reason))
        result = QFileInfo(args.TargetPath).exists() || QFileInfo(args.TargetPath).isSymLink()
            ? GENERATE_TARGET_EXISTS
            : GENERATE_TARGET_FAILED;
    QFile::remove(partial.fileName());
    return result;
}

} // namespace

bool PlaceWithoutReplacing(const QString &written, const QString &target, QString *reason)
{
#ifdef Q_OS_UNIX
    const QByteArray from = QFile::encodeName(written);
    const QByteArray to = QFile::encodeName(target);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *reason = errno == EEXIST ? QStringLiteral("already exists")
                                  : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#endif
    // A file system without the atomic rename: a second name for the file
    // fails the same way when the target exists; the first name goes after.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    *reason = errno == EEXIST ? QStringLiteral("already exists")
                              : QString::fromLocal8Bit(std::strerror(errno));
    return false;
#else
    // The closest this system offers: QFile::rename never replaces a file.
    QFile file(written);
    if (file.rename(target))
        return true;
    *reason = QFileInfo::exists(target) ? QStringLiteral("already exists") : file.errorString();
    return false;
#endif
}

void KeepLeftChannelInPlace(QByteArray *frames)
{
    // Half the bytes, rounded down. When the input ends inside a frame and
    // that half is odd, its last byte is the input's byte at that offset.
    // Each sample moves down to where a sample already read was, so the
    // frames are never overwritten before they are read.
    const int audioLength = frames->size() >> 1;
    char *bytes = frames->data();
    for (int j = 0; j < audioLength / 2; ++j) {
        bytes[2 * j] = bytes[4 * j];
        bytes[2 * j + 1] = bytes[4 * j + 1];
    }
    frames->truncate(audioLength);
}

int LeadingSilenceBytes(const QByteArray &audio, quint16 gate)
{
    const int samples = audio.size() / 2;
    int k = 0;
    while (k < samples && SampleMagnitude(audio, k) < gate)
        ++k;
    return 2 * k;
}

QByteArray CutLeadingSilence(const QByteArray &audio, quint16 gate)
{
    return audio.mid(LeadingSilenceBytes(audio, gate));
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

    for (int k = 0; k < kMaxLayers; ++k)
        h.append(char(StoredThreshold(args.Threshold[k])));
    for (int k = 0; k < kMaxLayers; ++k)
        AppendLE(h, SizeUnits(args.LayerSize[k]), 2);
    h.append(8, '\0');

    h.append('\n');
    h.append(args.TargetName.toUtf8());
    h.append('\n');
    for (int k = 0; k < kMaxLayers; ++k) {
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

GeneratorArgs MakeGeneratorArgs(const QVector<LayerFile> &layers, const ThresholdTable thresholds,
                                quint16 gate, const QString &targetPath)
{
    GeneratorArgs args;
    args.TargetPath = targetPath;
    args.TargetName = LastPathPart(targetPath);
    args.LayerCount = int(qMin(layers.size(), decltype(layers.size())(kMaxLayers)));
    for (int i = 0; i < kMaxLayers; ++i) {
        // Every slot's threshold is stored, used or not.
        args.Threshold[i] = thresholds[i + 1];
        if (i < args.LayerCount) {
            args.LayerPath[i] = layers.at(i).path;
            args.LayerName[i] = WithoutByteOrderMarks(layers.at(i).name);
            args.LayerSize[i] = layers.at(i).size;
        }
    }
    args.SilenceGate = gate;
    return args;
}

int ResultCodeForGenerator(qint32 result)
{
    return result == GENERATE_NO_SPACE ? RESULT_NO_SPACE : RESULT_OPEN_FAILED;
}

qint32 GenerateZKS(GeneratorArgs args)
{
    return GenerateZKS(std::move(args), nullptr);
}

qint32 GenerateZKS(GeneratorArgs args, QString *reason)
{
    QString unused;
    reason = reason ? reason : &unused;
    reason->clear();
    if (!LayerTableIsValid(args, reason))
        return GENERATE_LAYER_FAILED;
    if (NameHasControlCharacter(args.TargetName)) {
        qCDebug(lcZk) << "Bank name holds a control character:" << args.TargetName;
        *reason = ControlCharacterDetail();
        return GENERATE_TARGET_FAILED;
    }
    const QByteArray header
        = BuildZKSHeader(args, RandomTag(QDateTime::currentSecsSinceEpoch()));
    // Checked before the target is touched, so a bank that cannot fit never
    // costs the user an existing file.
    const qint64 bankSize = BankSize(args, header.size());
    if (bankSize > kBankBudget) {
        qCDebug(lcZk) << "Space is not enough";
        *reason = QStringLiteral("the bank with its header takes %1 bytes; the device holds %2")
                      .arg(bankSize)
                      .arg(kBankBudget);
        return GENERATE_NO_SPACE;
    }

    if (!args.ReplaceExisting && !args.TargetPath.isEmpty())
        return WriteBankBeside(args, header, reason);
    // QSaveFile writes beside the target and replaces it only on commit(), so
    // a failure part way leaves an existing bank as it was. An empty name is
    // refused first: QSaveFile would write into the current folder before
    // failing.
    QSaveFile target(args.TargetPath);
    if (args.TargetPath.isEmpty() || !target.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qCDebug(lcZk) << "Unable to open " << args.TargetPath;
        *reason = args.TargetPath.isEmpty() ? QStringLiteral("the bank has no file name")
                                            : target.errorString();
        return GENERATE_TARGET_FAILED;
    }
    const qint32 result = WriteBank(target, args, header, reason);
    if (result != GENERATE_OK) {
        target.cancelWriting();
        return result;
    }
    if (!target.commit()) {
        qCDebug(lcZk) << "Unable to write " << args.TargetPath << target.errorString();
        *reason = target.errorString();
        return GENERATE_TARGET_FAILED;
    }
    return GENERATE_OK;
}
