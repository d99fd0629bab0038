#include "bankbuild.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <iterator>
#include <vector>

#include "explain.h"
#include "intake.h"
#include "kitpipeline.h"
#include "loudness.h"
#include "resultcodes.h"
#include "zkslayout.h"

namespace {

// What the names and the files' headers tell is checked before the first
// file is converted; the refusal, or none. Files libsndfile can't open are
// left to the conversion chain, whose verdict counts. The bank's names are
// lines: a control character in one would shift every name and layer after
// it.
Refusal RefusalBeforeConverting(const QString &target, const QStringList &files)
{
    if (NameHasControlCharacter(LastPathPart(QFileInfo(target).absoluteFilePath())))
        return RefusalFor(RESULT_FILE_ERROR, target, ControlCharacterDetail());
    for (const QString &file : files) {
        if (NameHasControlCharacter(QFileInfo(file).fileName()))
            return RefusalFor(RESULT_FILE_ERROR, file, ControlCharacterDetail());
        if (!file.isEmpty() && !QFileInfo::exists(file))
            return RefusalFor(RESULT_OPEN_FAILED, file, QStringLiteral("no such file"));
        const Refusal fromHeader = RefusalFromHeader(file);
        if (!fromHeader.IsEmpty())
            return fromHeader;
    }
    return Refusal();
}

BankResult Refused(BankResult result, const Refusal &refusal)
{
    result.outcome = BankResult::Outcome::Refused;
    result.refusal = refusal;
    return result;
}

BankResult Interruption(BankResult result)
{
    result.outcome = BankResult::Outcome::Interrupted;
    return result;
}

bool IsCancelled(const BankRequest &request)
{
    return request.cancelled && *request.cancelled;
}

// Replaces a converted layer by a copy with its quiet tail trimmed, when
// that saves layer space.
void TrimLayerTail(LayerFile *layer, double dbfs, QStringList *lines)
{
    const QString folder = NewResultFolder(QFileInfo(layer->path).dir().absolutePath() + QStringLiteral("/.."));
    const SizedFile trimmed = TrimmedLayer(layer->path, layer->size, folder, dbfs);
    if (trimmed.path == layer->path)
        return;
    *lines << QStringLiteral("trimmed %1: %2 bytes saved").arg(Printable(LastPathPart(trimmed.path))).arg(layer->size - trimmed.size);
    layer->path = trimmed.path;
    layer->size = trimmed.size;
}

// A layer's line in the report: its place in the bank, name and size, and
// the space left once it and the layers above it are charged (`used`).
QString LayerLine(int layer, const LayerFile &file, qint32 used)
{
    return QStringLiteral("layer %1  %2  %3 bytes  %4% space left")
        .arg(layer)
        .arg(Printable(file.name))
        .arg(file.size)
        .arg(AvailablePercentFor(used));
}

} // namespace

QString OrderLayersByLoudness(QVector<LayerFile> *layers, quint16 gate, bool spread,
                              ThresholdTable thresholds, QStringList *lines)
{
    QVector<double> attack;
    std::vector<LayerLevels> levels;
    for (const LayerFile &layer : std::as_const(*layers)) {
        LayerLevels measured;
        QString reason;
        if (!MeasureLayerFile(layer.path, gate, &measured, &reason))
            return QStringLiteral("%1 could not be measured (%2)").arg(Printable(layer.name), reason);
        levels.push_back(measured);
        attack << measured.attackDbfs;
    }
    const QVector<int> order = LoudnessOrder(attack, spread, thresholds);
    QVector<LayerFile> ordered;
    for (int from : order) {
        ordered << layers->at(from);
        *lines << QStringLiteral("loudness order %1  %2  %3")
                      .arg(ordered.size())
                      .arg(Printable(layers->at(from).name), LevelsText(levels[size_t(from)]));
    }
    *layers = ordered;
    return QString();
}

BankResult BuildBank(const BankRequest &request)
{
    BankResult result;
    const QString &target = request.target;
    const QStringList &files = request.files;
    const int count = int(files.size());
    const QFileInfo targetInfo(target);
    const Refusal exists = RefusalSaying(target, QStringLiteral("already exists; --force replaces it"));
    if ((targetInfo.exists() || targetInfo.isSymLink()) && !request.force)
        return Refused(result, exists);
    if (count == 0)
        return Refused(result, RefusalSaying(target, QStringLiteral("no layers to write: a bank "
                                                                    "holds 1 to %1")
                                                         .arg(kMaxLayers)));
    // A live link is written through, as cp does; a dangling one would
    // create a file wherever it points.
    if (targetInfo.isSymLink() && !targetInfo.exists())
        return Refused(result, RefusalSaying(target, QStringLiteral("is a link to nothing; remove "
                                                                    "it to write the bank here")));
    if (targetInfo.isDir())
        return Refused(result, RefusalSaying(target, QStringLiteral("is a folder")));
    if (!request.dryRun && !targetInfo.absoluteDir().exists())
        return Refused(result, RefusalFor(RESULT_OPEN_FAILED, target,
                                          QStringLiteral("no folder %1")
                                              .arg(targetInfo.absolutePath())));

    const Refusal early = RefusalBeforeConverting(target, files);
    if (!early.IsEmpty())
        return Refused(result, early);

    // The converters' work runs in this process unless asked otherwise: no
    // program start per step.
    ConvertOptions conversion;
    conversion.cancelled = request.cancelled;
    conversion.inProcess = request.inProcess;
    qint32 used = 0;
    QVector<LayerFile> layers;
    // Ordered by loudness, the layers are listed once their order is known.
    const bool ordering = request.orderByLoudness && !request.dryRun;
    // The layers not yet converted count as empty, so the first layer too
    // large for the bank's size tables is the one refused.
    qint32 sizes[kMaxLayers] = {};
    for (int i = 0; i < count; ++i) {
        const QString shown = request.shownAs.contains(i) ? request.shownAs.value(i)
            : files.at(i).isEmpty()                         ? QStringLiteral("\"\"")
                                                            : files.at(i);
        IntakeVerdict taken;
        if (request.opened.contains(i)) {
            taken.layer = request.opened.value(i);
        } else if (!request.dryRun || !TakeInWithoutConverting(files.at(i), &taken)) {
            // A dry run takes the size of a file that converting would only
            // copy from its header.
            if (request.makeWorkFolder && conversion.workFolder.isEmpty()) {
                conversion.workFolder = request.makeWorkFolder();
                if (conversion.workFolder.isEmpty())
                    return Refused(result, RefusalFor(RESULT_OPEN_FAILED, shown,
                                                      QStringLiteral("no temporary folder could "
                                                                     "be made")));
            }
            taken = TakeInSound(files.at(i), conversion);
            if (taken.cancelled)
                return Interruption(result);
        }
        if (!taken.IsLayer()) {
            Refusal refusal = taken.refusal;
            refusal.subject = shown;
            return Refused(result, refusal);
        }
        LayerFile layer = taken.layer;
        if (request.trimTails && !request.dryRun)
            TrimLayerTail(&layer, request.tailDbfs, &result.lines);
        sizes[i] = layer.size;
        const int verdict = LayerSizesVerdict(sizes, count);
        if (verdict == RESULT_NO_SPACE)
            return Refused(result, RefusalFor(RESULT_NO_SPACE, shown, NoSpaceDetail(layer.size, used)));
        if (verdict != 0)
            return Refused(result, RefusalFor(RESULT_TOO_BIG, shown, SizeTableDetail()));
        used += layer.size;
        layers.append(layer);
        if (!ordering)
            result.lines << LayerLine(i + 1, layers.constLast(), used);
    }
    ThresholdTable thresholds;
    std::copy(std::begin(request.thresholds), std::end(request.thresholds), std::begin(thresholds));
    if (ordering) {
        const QString refused = OrderLayersByLoudness(&layers, request.gate, !request.thresholdsGiven,
                                                      thresholds, &result.lines);
        if (!refused.isEmpty())
            return Refused(result, RefusalSaying(target, refused));
        qint32 above = 0;
        for (int k = 0; k < layers.size(); ++k) {
            above += layers.at(k).size;
            result.lines << LayerLine(k + 1, layers.at(k), above);
        }
    }
    GeneratorArgs args
        = MakeGeneratorArgs(layers, thresholds, request.gate, targetInfo.absoluteFilePath());

    if (request.dryRun) {
        // The generator's own sum: the header, then each layer's region.
        const qint64 bytes = BuildZKSHeader(args, 0).size() + qint64(used);
        if (bytes > kBankBudget)
            return Refused(result, RefusalFor(RESULT_NO_SPACE, target));
        result.lines << QStringLiteral("would write %1: %2 layers, %3 bytes")
                            .arg(Printable(target))
                            .arg(count)
                            .arg(bytes);
        result.layers = count;
        result.bytes = bytes;
        return result;
    }
    if (IsCancelled(request))
        return Interruption(result);
    // The generator leaves an existing bank untouched when it fails, and
    // replaces it only with a whole new one: once it has started it runs to
    // its end, and a bank it finished stays (removing it would lose the bank
    // it replaced as well).
    // Without --force a bank that appeared during the conversion is kept.
    args.ReplaceExisting = request.force;
    QString reason;
    const qint32 generated = GenerateZKS(args, &reason);
    if (generated == GENERATE_TARGET_EXISTS)
        return Refused(result, exists);
    if (generated != GENERATE_OK)
        return Refused(result, RefusalFor(ResultCodeForGenerator(generated), target, reason));
    result.layers = count;
    result.bytes = QFileInfo(target).size();
    result.lines << QStringLiteral("wrote %1: %2 layers, %3 bytes")
                        .arg(Printable(target))
                        .arg(count)
                        .arg(result.bytes);
    return result;
}
