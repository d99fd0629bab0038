#include "bankreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "zksbank.h"
#include "zkslayout.h"

namespace {

// The one problem that stopped the reading.
QVector<BankProblem> Stopped(BankProblem::Kind kind, const QString &text)
{
    return {BankProblem{kind, 0, text}};
}

bool WriteLayerWave(const QString &path, const QByteArray &audio, QVector<BankProblem> *problems)
{
    QFile file(path);
    const QByteArray wave = CanonicalWavHeader(1, kBankRate, 16, quint32(audio.size())) + audio;
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(wave) != wave.size()
        || !file.flush()) {
        *problems = Stopped(BankProblem::Kind::Damaged,
                            QStringLiteral("%1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

// Writes one layer's file into a fresh numbered folder of `work`; on failure
// that folder is gone again.
bool WriteLayer(const ZksBank &bank, const ZksRegion &region, const QString &work,
                const QString &fileName, BankLayer *layer, QVector<BankProblem> *problems)
{
    QByteArray audio;
    QString error;
    if (!ReadZksRegion(bank, region, &audio, &error)) {
        *problems = Stopped(BankProblem::Kind::Unreadable, error);
        return false;
    }
    const QString folder = NewResultFolder(work);
    if (folder.isEmpty()) {
        *problems = Stopped(BankProblem::Kind::Damaged,
                            QStringLiteral("no folder could be made in %1").arg(work));
        return false;
    }
    const QString path = folder + QLatin1Char('/') + fileName;
    if (!WriteLayerWave(path, DropPadding(audio), problems)) {
        QDir(folder).removeRecursively();
        return false;
    }
    layer->file = {path, region.name, qint32(region.size)};
    layer->threshold = region.threshold;
    return true;
}

} // namespace

QByteArray DropPadding(const QByteArray &region)
{
    int end = int(region.size());
    while (end > 0 && region.at(end - 1) == '\0')
        --end;
    return region.left(end + end % 2);
}

bool ReadBankLayers(const QString &bankPath, const QString &workFolder, QVector<BankLayer> *layers,
                    ThresholdTable thresholds, QVector<BankProblem> *problems)
{
    // An empty name would mean the current folder.
    if (workFolder.isEmpty()) {
        *problems = Stopped(BankProblem::Kind::Damaged,
                            QStringLiteral("no working folder to put the layers in"));
        return false;
    }
    ZksBank bank;
    QString error;
    if (!ReadZksBank(bankPath, &bank, &error)) {
        *problems = Stopped(BankProblem::Kind::Unreadable, error);
        return false;
    }
    if (!bank.problems.isEmpty()) {
        *problems = bank.problems;
        return false;
    }
    const QStringList fileNames = WaveNamesFor(bank.regions);
    QVector<BankLayer> read(bank.regions.size());
    for (int i = 0; i < bank.regions.size(); ++i) {
        if (!WriteLayer(bank, bank.regions.at(i), workFolder, fileNames.at(i), &read[i],
                        problems)) {
            for (int j = 0; j < i; ++j)
                QFileInfo(read.at(j).file.path).dir().removeRecursively();
            return false;
        }
    }
    *layers = read;
    for (int k = 1; k <= kMaxLayers; ++k)
        thresholds[k] = bank.thresholds[k - 1] & 0x7F;
    return true;
}
