// The bank generator reading layer files that changed after the sound check
// accepted them, so that nothing in their headers can be trusted. The first
// five bytes choose the run; the rest is the layer file.
//   bytes 0-1  silence gate (little-endian)
//   bytes 2-3  layer size in 512-byte blocks, modulo the budget's 6144
//   byte 4     how many slots use the file, 1..8
// Every bank must come out exactly as long as its header and layer sizes,
// and a refused bank must leave the existing file as it was.

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "fileprocessor.h"
#include "fuzzsupport.h"

namespace {

constexpr int kChoiceBytes = 5;
const QByteArray kEarlierBank("an earlier bank that must survive a refusal\n");

QString layerPath;
QString targetPath;

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(DropMessages);
    layerPath = ScratchFolder() + QStringLiteral("/layer.wav");
    targetPath = ScratchFolder() + QStringLiteral("/bank.zks");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kChoiceBytes)
        return 0;
    const QByteArray layerFile = Bytes(data + kChoiceBytes, size - kChoiceBytes);
    WriteFile(layerPath, layerFile);
    WriteFile(targetPath, kEarlierBank);

    GeneratorArgs args;
    args.TargetPath = targetPath;
    args.TargetName = QStringLiteral("bank.zks");
    args.SilenceGate = quint16(data[0] | (data[1] << 8));
    const qint32 layerSize = 512 * (1 + (data[2] | (data[3] << 8)) % 6144);
    args.LayerCount = 1 + data[4] % 8;
    for (int i = 0; i < args.LayerCount; ++i) {
        args.LayerPath[i] = layerPath;
        args.LayerName[i] = QStringLiteral("layer %1.wav").arg(i + 1);
        args.LayerSize[i] = layerSize;
        args.Threshold[i] = args.LayerCount - i;
    }
    const qint64 expected = BuildZKSHeader(args, 0).size() + qint64(layerSize) * args.LayerCount;

    const qint32 result = GenerateZKS(args);
    if (result == GENERATE_OK) {
        FUZZ_CHECK(expected <= kBankBudget);
        FUZZ_CHECK(QFileInfo(targetPath).size() == expected);
    } else {
        FUZZ_CHECK(ReadFile(targetPath) == kEarlierBank);
        if (result == GENERATE_NO_SPACE)
            FUZZ_CHECK(expected > kBankBudget);
        else // only a file too short for a header cannot be read as a layer
            FUZZ_CHECK(result == GENERATE_LAYER_FAILED && layerFile.size() < 44);
    }
    // Nothing is left behind beside the bank.
    FUZZ_CHECK(QDir(ScratchFolder()).entryList(QDir::Files | QDir::Hidden).size() == 2);
    return 0;
}
