#include "bankcontroller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <utility>

#include "bankopen.h"
#include "explain.h"
#include "fileprocessor.h"
#include "kitdialog.h"
#include "kitimport.h"
#include "kitsource.h"
#include "logging.h"
#include "prompts.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "soundqueue.h"
#include "waitcursor.h"

namespace {

const char kLastFolderKey[] = "LastFolder";
const char kLastSaveFolderKey[] = "LastSaveFolder";
const char kLastKitFolderKey[] = "LastKitFolder";
const char kDefaultWavFolder[] = "./wav";
const char kDefaultZksFolder[] = "./zks";

// The folder a dialog opens in: the remembered one, or else its default,
// as long as it exists. A dialog given a folder that doesn't exist would put
// its last part into the name field, and Enter would then save a file of
// that name wherever the program was started; the user's Music (or home)
// folder is the sensible place instead.
QString DialogFolder(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}

// The name goes into the bank's name lines; a control character in it would
// shift every line after it.
Refusal NameRefusal(const QString &file)
{
    if (NameHasControlCharacter(QFileInfo(file).fileName()))
        return RefusalFor(RESULT_FILE_ERROR, QString(), ControlCharacterDetail());
    return Refusal();
}

// `file` moved out of the import's scratch folder into a folder of its own
// in the working folder, and held (with `note`, `trimmed` and its size as
// HeldFile takes them); none, nothing left behind, when it cannot be moved.
FileHold MovedToWorkFolder(const LayerFile &file, const QString &note, const FileHold &trimmed = FileHold(),
                           qint32 trimmedSize = 0)
{
    const QString folder = NewResultFolder(WorkFolder());
    const QString moved = folder + QLatin1Char('/') + QFileInfo(file.path).fileName();
    if (folder.isEmpty() || file.size <= 0 || !QFile::rename(file.path, moved)) {
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        return FileHold();
    }
    return HeldFile::Take(moved, note, trimmed, trimmedSize);
}

} // namespace

BankController::BankController(Prompts &prompts, QObject *parent)
    : QObject(parent), prompts(&prompts), table(this)
{
    QSettings settings;
    lastFolder = settings.value(kLastFolderKey, kDefaultWavFolder).toString();
    lastSaveFolder = settings.value(kLastSaveFolderKey, kDefaultZksFolder).toString();
    SetConverter(nullptr);
    SetKitWorker(nullptr);
}

void BankController::SetConverter(Converter given)
{
    if (given) {
        converter = std::move(given);
        return;
    }
    converter = [](const QString &file, ConversionDone done) {
        ConvertOptions options;
        options.workFolder = WorkFolder();
        done(TakeInSound(file, options));
    };
}

void BankController::SetKitWorker(KitWorker given)
{
    if (given) {
        kitWorker = std::move(given);
        return;
    }
    kitWorker = [](const QString &, const KitWorkBody &work) {
        const std::atomic<bool> notCancelled{false};
        work(&notCancelled);
        return true;
    };
}

QString BankController::BankFolder() const
{
    return DialogFolder(lastSaveFolder);
}

void BankController::ShowRefusal(const Refusal &refusal)
{
    ::ShowRefusal(*prompts, refusal);
}

void BankController::StartConversion(const QString &file, ConversionDone done)
{
    ++converting;
    emit conversionStarted();
    converter(file, [this, done](const ConversionVerdict &verdict) {
        emit conversionEnded();
        done(verdict);
        --converting;
    });
}

void BankController::AddOrRemoveLayer(int layer)
{
    emit rowsGiveWay();
    if (Bank().Count() == layer - 1)
        AddLayer();
    else
        RemoveLayer(layer);
}

void BankController::RemoveLayer(int layer)
{
    table.Remove(layer);
}

void BankController::AddLayer()
{
    const QStringList choice = AskForSounds(true);
    if (choice.size() > 1) {
        AddSounds(choice);
        return;
    }
    const QString chosen = choice.value(0);
    if (chosen.isEmpty()) {
        ShowRefusal(RefusalFor(RESULT_NO_FILE, QString()));
        return;
    }
    const Refusal badName = NameRefusal(chosen);
    if (!badName.IsEmpty()) {
        ShowRefusal(badName);
        return;
    }
    // Puts the converted sound into the next row once it passed the sound
    // check, the space account and the size tables' rule, or says why not.
    StartConversion(chosen, [this](const ConversionVerdict &verdict) {
        if (verdict.cancelled)
            return;
        const Refusal refused = table.Add(verdict);
        if (!refused.IsEmpty())
            ShowRefusal(refused);
    });
}

QStringList BankController::AskForSounds(bool several)
{
    if (!QFileInfo::exists(lastFolder))
        lastFolder = QString::fromLatin1(kDefaultWavFolder);

    // The plain WAVE filter stays first; the one selected shows every format
    // the converters read, so FLAC or MP3 files are visible at once.
    QStringList patterns;
    for (const QString &suffix : SoundFileSuffixes())
        patterns << QStringLiteral("*.") + suffix;
    QString soundFiles = tr("Sound files (%1)").arg(patterns.join(QLatin1Char(' ')));
    const QString filters = tr("Wave File (*.wav )") + QStringLiteral(";;") + soundFiles
        + QStringLiteral(";;") + tr("All files (*)");
    const QStringList res =
        prompts->OpenFiles({tr("Open File"), DialogFolder(lastFolder), filters, soundFiles}, several);
    if (!res.value(0).isEmpty()) {
        qCDebug(lcZk) << "res = " << res;
        lastFolder = QFileInfo(res.first()).canonicalPath();
        QSettings().setValue(kLastFolderKey, lastFolder);
        qCDebug(lcZk) << "LastFolder = " << lastFolder;
    }
    return res;
}

void BankController::AddSounds(const QStringList &files)
{
    table.BeginStep(tr("Add sounds"));
    soundsToAdd = files;
    soundsRefused.clear();
    AddNextSound();
}

void BankController::AddNextSound()
{
    if (soundsToAdd.isEmpty()) {
        FinishAddingSounds();
        return;
    }
    if (Bank().Count() >= kMaxLayers) {
        for (const QString &file : std::as_const(soundsToAdd))
            soundsRefused << RefusalLine(file, NoFreeLayerReason());
        soundsToAdd.clear();
        FinishAddingSounds();
        return;
    }
    const QString file = soundsToAdd.takeFirst();
    const Refusal badName = NameRefusal(file);
    if (!badName.IsEmpty()) {
        soundsRefused << RefusalLine(file, badName.Reason());
        AddNextSound();
        return;
    }
    StartConversion(file, [this](const ConversionVerdict &verdict) {
        // Cancel stops the sounds still waiting too.
        if (verdict.cancelled) {
            soundsToAdd.clear();
            FinishAddingSounds();
            return;
        }
        const Refusal refused = table.Add(verdict);
        if (!refused.IsEmpty())
            soundsRefused << RefusalLine(verdict.chosen, refused.Reason());
        AddNextSound();
    });
}

// The sounds added together are one step of undo.
void BankController::FinishAddingSounds()
{
    table.EndStep();
    if (soundsRefused.isEmpty())
        return;
    const QString lines = soundsRefused.join(QLatin1Char('\n'));
    soundsRefused.clear();
    ShowRefusal(RefusalSaying(QString(), tr("Some files were not added"), lines));
}

void BankController::ReplaceLayer(int layer, const QString &file)
{
    const Refusal badName = NameRefusal(file);
    if (!badName.IsEmpty()) {
        ShowRefusal(badName);
        return;
    }
    // The converted sound takes the layer's place, keeping its threshold,
    // or the old layer stays and the refusal says why.
    StartConversion(file, [this, layer](const ConversionVerdict &verdict) {
        if (verdict.cancelled)
            return;
        const Refusal refused = table.Replace(layer, verdict);
        if (!refused.IsEmpty())
            ShowRefusal(refused);
    });
}

void BankController::Generate()
{
    for (int layer = 1; layer <= kMaxLayers; ++layer)
        qCDebug(lcZk) << Bank().Name(layer) << "---" << Bank().Path(layer);
    if (!QFileInfo::exists(lastSaveFolder))
        lastSaveFolder = QString::fromLatin1(kDefaultZksFolder);
    qCDebug(lcZk) << "LastSaveFolder1 = " << lastSaveFolder;

    const QString targetPath =
        prompts->SavePath({tr("Save File"), DialogFolder(lastSaveFolder), tr("QuadrelSound (*.zks)"), QString()},
                          QStringLiteral("zks"), suggestedBankName);
    qCDebug(lcZk) << targetPath;
    if (targetPath.isEmpty())
        return;
    // From here on the line would tell of a bank other than this one.
    emit bankSaved(QString(), 0, 0);
    Refusal refused;
    {
        WaitCursor busy;
        refused = Bank().Write(targetPath);
    }
    if (!refused.IsEmpty()) {
        ShowRefusal(refused);
        return;
    }
    lastSaveFolder = QFileInfo(targetPath).canonicalPath();
    QSettings().setValue(kLastSaveFolderKey, lastSaveFolder);
    // Writing is not undone; what it wrote is what undo comes back to as
    // saved.
    table.MarkSaved();
    emit bankSaved(LastPathPart(targetPath), Bank().Count(), QFileInfo(targetPath).size());
}

void BankController::OpenBankFromDialog()
{
    const QString bankPath = AskForBankToOpen(*prompts, DialogFolder(lastSaveFolder));
    if (!bankPath.isEmpty())
        OpenBank(bankPath);
}

void BankController::OpenBank(const QString &bankPath)
{
    QVector<BankLayer> layers;
    ThresholdTable thresholds = {};
    QVector<BankProblem> problems;
    bool read;
    {
        WaitCursor busy;
        read = ReadBankToOpen(bankPath, &layers, thresholds, &problems);
    }
    if (!read) {
        ShowBankError(*prompts, bankPath, problems);
        return;
    }
    if (Bank().Count() > 0 && !ConfirmReplacingLayers(*prompts, bankPath)) {
        DiscardBankLayers(layers);
        return;
    }
    PutBankInRows(layers, thresholds, tr("Open %1").arg(QFileInfo(bankPath).fileName()), true);
}

void BankController::PutBankInRows(const QVector<BankLayer> &layers, const ThresholdTable thresholds,
                                   const QString &what, bool written, const QVector<FileHold> &held)
{
    emit rowsGiveWay();
    // Rows of another bank or import are not named after the last import.
    suggestedBankName.clear();
    {
        WaitCursor busy;
        table.Open(layers, thresholds, what, held);
    }
    emit bankSaved(QString(), 0, 0);
    // An opened bank counts as written until its layers change.
    if (written)
        table.MarkSaved();
}

void BankController::ImportKitFromDialog()
{
    const QString folder = QSettings().value(kLastKitFolderKey, lastFolder).toString();
    const QString kitPath = AskForKitToImport(*prompts, DialogFolder(folder));
    if (!kitPath.isEmpty())
        ImportKit(kitPath);
}

// The folder the kit is in, where the next one is likely to be: a
// drumkit.xml's kit is the folder holding it.
void BankController::RememberKitFolder(const QString &kitPath)
{
    const QFileInfo info(kitPath);
    const QString kit = info.fileName().compare(QLatin1String("drumkit.xml"), Qt::CaseInsensitive) == 0
        ? info.absolutePath()
        : info.absoluteFilePath();
    QSettings().setValue(kLastKitFolderKey, QFileInfo(kit).absolutePath());
}

// The kit read, its instruments listed, the chosen one prepared as zkstool
// import-kit prepares it, all through the kit worker, then put in the rows
// as an opened bank is.
void BankController::ImportKit(const QString &kitPath)
{
    // All the import writes goes in here, removed with it: what becomes a
    // layer is moved out first.
    QTemporaryDir scratch(WorkFolder() + QStringLiteral("/kit-XXXXXX"));
    const QString kitFile = QFileInfo(kitPath).fileName();
    if (!scratch.isValid()) {
        ShowKitError(*prompts, tr("%1 could not be read: no working folder could be made.").arg(kitFile),
                     QString());
        return;
    }
    // A Hydrogen kit's instruments, an SFZ kit's keys or a SoundFont's: what the chooser
    // lists, and how the chosen one is prepared, as zkstool import-kit does.
    // Owned with the workers, which may outlive this call when abandoned.
    struct Reading {
        std::unique_ptr<KitSource> kit;
        QString error;
        QVector<KitInstrumentSummary> summaries;
        PreparedInstrument prepared;
    };
    const auto reading = std::make_shared<Reading>();
    const QString scratchPath = scratch.path();
    const bool finished = kitWorker(tr("Reading %1\u2026").arg(kitFile),
                                    [reading, kitPath, scratchPath](const std::atomic<bool> *cancelled) {
                                        Reading &r = *reading;
                                        r.kit = OpenKitSource(kitPath, scratchPath, &r.error, cancelled);
                                        if (r.kit)
                                            r.summaries = r.kit->Summaries();
                                    });
    if (!finished)
        return;
    const QVector<KitInstrumentSummary> &summaries = reading->summaries;
    if (!reading->kit) {
        ShowKitError(*prompts, tr("%1 is not a drum kit that can be read.").arg(kitFile), reading->error);
        return;
    }
    if (summaries.isEmpty()) {
        ShowKitError(*prompts, tr("%1 has no instruments.").arg(kitFile), QString());
        return;
    }
    // Named as zkstool names them; one whose samples are missing may be
    // chosen, to learn why it gives no layers. A chooser of greyed rows only
    // would leave an Import that does nothing.
    QStringList reasons;
    for (const KitInstrumentSummary &instrument : summaries) {
        if (!instrument.reason.isEmpty())
            reasons << tr("%1: %2").arg(instrument.name, instrument.reason);
    }
    if (reasons.size() == summaries.size()) {
        ShowKitError(*prompts, tr("%1 has no instrument that can make a bank.").arg(kitFile),
                     reasons.join(QLatin1Char('\n')));
        return;
    }
    RememberKitFolder(kitPath);
    const KitSource &kit = *reading->kit;
    const int chosen = prompts->ChooseInstrument(kit.Name(), summaries);
    if (chosen < 0)
        return;
    const QString instrumentName = kit.Instruments().at(chosen);
    const QString what = tr("%1 \u2013 %2").arg(kit.Name(), instrumentName);
    // Asked before any work that may fail or take long.
    if (Bank().Count() > 0 && !ConfirmReplacingWithKit(*prompts, Bank().Count(), what))
        return;
    // Both ways as to tails, so that "Trim tails" can switch between them;
    // the notes are of the way the option stands.
    KitImportOptions options;
    options.trimTails = table.TrimTails();
    options.bothTails = true;
    if (!kitWorker(tr("Importing %1\u2026").arg(instrumentName),
                   [reading, chosen, scratchPath, options](const std::atomic<bool> *cancelled) {
                       Reading &r = *reading;
                       r.prepared = r.kit->Prepare(chosen, scratchPath, options, cancelled);
                   }))
        return;
    const PreparedInstrument &prepared = reading->prepared;
    if (prepared.cancelled)
        return;
    // As import-kit tells them: what the kit left out, then the instrument's own.
    const QStringList notes = kit.LeftOut() + prepared.notes;
    if (!prepared.failure.isEmpty() || prepared.layers.isEmpty()) {
        ShowKitError(*prompts, tr("%1 gives no layers: %2.").arg(instrumentName, prepared.failure),
                     notes.join(QLatin1Char('\n')));
        return;
    }

    // Out of the scratch folder into folders of their own, where the rows'
    // files live and are discarded from: each layer's whole sound as its
    // untrimmed file, holding the trimmed copy made beside it.
    const QVector<LayerFile> &whole = options.trimTails ? prepared.otherLayers : prepared.layers;
    const QStringList &wholeNotes = options.trimTails ? prepared.otherNotes : prepared.layerNotes;
    const QVector<LayerFile> &trimmed = options.trimTails ? prepared.layers : prepared.otherLayers;
    const QStringList &trimmedNotes = options.trimTails ? prepared.layerNotes : prepared.otherNotes;
    QVector<BankLayer> layers;
    QVector<FileHold> held; // once taken, a file goes when its hold does
    for (int i = 0; i < prepared.layers.size(); ++i) {
        const FileHold copy = MovedToWorkFolder(trimmed.at(i), trimmedNotes.at(i));
        const FileHold source = copy ? MovedToWorkFolder(whole.at(i), wholeNotes.at(i), copy, trimmed.at(i).size)
                                     : FileHold();
        if (!source) {
            ShowKitError(*prompts, tr("%1 gives no layers: a layer file could not be written.")
                                       .arg(instrumentName),
                         QString());
            return;
        }
        BankLayer layer;
        layer.file = whole.at(i);
        layer.file.path = source->path();
        layer.threshold = prepared.thresholds.at(i);
        layers << layer;
        held << source;
    }
    ThresholdTable thresholds = {};
    prepared.FillThresholds(thresholds);
    PutBankInRows(layers, thresholds, tr("Import %1").arg(instrumentName), false, held);
    suggestedBankName = kit.BankNames().at(chosen);
    const int count = int(layers.size());
    emit imported(tr("Imported %1: %2").arg(what, count == 1 ? tr("1 layer") : tr("%1 layers").arg(count)),
                  notes);
}

void BankController::OpenFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QStringList files;
    for (const QString &path : paths)
        files << QFileInfo(path).absoluteFilePath();
    const bool bank = files.size() == 1
        && files.first().endsWith(QStringLiteral(".zks"), Qt::CaseInsensitive);
    const bool kit = files.size() == 1 && IsKitPath(files.first());
    QMetaObject::invokeMethod(
        this,
        [this, files, bank, kit]() {
            if (bank)
                OpenBank(files.first());
            else if (kit)
                ImportKit(files.first());
            else
                AddSounds(files);
        },
        Qt::QueuedConnection);
}
