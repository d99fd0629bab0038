// zkstool info: what a bank holds, and what is wrong with it.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <sys/stat.h>
#endif

#include "bankreader.h"
#include "buildall.h"
#include "explain.h"
#include "tailtrim.h"
#include "fileprocessor.h"
#include "loudness.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "soundinfo.h"
#include "zksbank.h"
#include "zkstool.h"

namespace {

// --- info ------------------------------------------------------------------

template <typename T>
QJsonArray JsonNumbers(const T *values, int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(double(values[i]));
    return array;
}

QJsonObject BankJson(const QString &path, const ZksBank &bank, const QVector<LayerLevels> &levels)
{
    QJsonObject o;
    o[QStringLiteral("file")] = path;
    o[QStringLiteral("fileSize")] = double(bank.fileSize);
    o[QStringLiteral("ok")] = bank.problems.isEmpty();
    o[QStringLiteral("problems")] = QJsonArray::fromStringList(ProblemTexts(bank.problems));
    if (!bank.fixedPartComplete)
        return o;
    o[QStringLiteral("makerLine")] = QString::fromLatin1(bank.makerLine);
    o[QStringLiteral("randomTag")] = double(bank.randomTag);
    o[QStringLiteral("signatureOk")] = bank.signatureOk;
    o[QStringLiteral("fourSlotThresholds")] = JsonNumbers(bank.fourSlotThresholds, 3);
    o[QStringLiteral("fourSlotBlocks")] = JsonNumbers(bank.fourSlotBlocks, 4);
    o[QStringLiteral("fourSlotOffsets")] = JsonNumbers(bank.fourSlotOffsets, 4);
    o[QStringLiteral("thresholds")] = JsonNumbers(bank.thresholds, kMaxLayers);
    o[QStringLiteral("sizeUnits")] = JsonNumbers(bank.sizeUnits, kMaxLayers);
    o[QStringLiteral("namesComplete")] = bank.namesComplete;
    o[QStringLiteral("bankName")] = bank.bankName;
    QJsonArray names;
    for (const QString &name : bank.layerNames)
        names.append(name);
    o[QStringLiteral("layerNames")] = names;
    o[QStringLiteral("headerLength")] = double(bank.headerLength);
    o[QStringLiteral("layerCount")] = bank.layerCount;
    QJsonArray layers;
    for (int i = 0; i < bank.regions.size(); ++i) {
        const ZksRegion &r = bank.regions.at(i);
        QJsonObject layer{
            {QStringLiteral("layer"), r.layer},
            {QStringLiteral("name"), r.name},
            {QStringLiteral("threshold"), r.threshold},
            {QStringLiteral("offset"), double(r.offset)},
            {QStringLiteral("size"), double(r.size)},
            {QStringLiteral("inFile"), double(r.inFile)},
        };
        // Silence has no level: null rather than an infinity JSON can't hold.
        const auto level = [](double db) { return std::isfinite(db) ? QJsonValue(db) : QJsonValue(); };
        if (i < levels.size()) {
            layer[QStringLiteral("peakDbfs")] = level(levels.at(i).peakDbfs);
            layer[QStringLiteral("attackDbfs")] = level(levels.at(i).attackDbfs);
            layer[QStringLiteral("loudnessLufs")]
                = levels.at(i).loudnessKnown ? level(levels.at(i).loudnessLufs) : QJsonValue();
        }
        layers.append(layer);
    }
    o[QStringLiteral("layers")] = layers;
    return o;
}

template <typename T>
QString Numbers(const T *values, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QString::number(values[i]);
    return list.join(QLatin1Char(' '));
}

void PrintBank(const QString &path, const ZksBank &bank, const QVector<LayerLevels> &levels)
{
    QTextStream &out = Out();
    out << "file                  " << Printable(path) << " (" << bank.fileSize << " bytes)\n";
    if (bank.fixedPartComplete) {
        out << "maker line            \"" << Printable(QString::fromLatin1(bank.makerLine))
            << "\"\n"
            << "random tag            " << bank.randomTag << "\n"
            << "signature             " << (bank.signatureOk ? "ok" : "WRONG") << "\n"
            << "four-slot thresholds  " << Numbers(bank.fourSlotThresholds, 3) << "\n"
            << "four-slot blocks      " << Numbers(bank.fourSlotBlocks, 4) << "\n"
            << "four-slot offsets     " << Numbers(bank.fourSlotOffsets, 4) << "\n"
            << "thresholds            " << Numbers(bank.thresholds, kMaxLayers) << "\n"
            << "size units            " << Numbers(bank.sizeUnits, kMaxLayers) << "\n"
            << "bank name             \"" << Printable(bank.bankName) << "\"\n"
            << "header length         " << bank.headerLength << "\n"
            << "layers                " << bank.layerCount << "\n";
        for (int i = 0; i < bank.regions.size(); ++i) {
            const ZksRegion &r = bank.regions.at(i);
            out << QStringLiteral("  %1  \"%2\"  threshold %3  offset %4  size %5")
                       .arg(r.layer)
                       .arg(Printable(r.name))
                       .arg(r.threshold)
                       .arg(r.offset)
                       .arg(r.size);
            if (r.inFile < r.size)
                out << QStringLiteral("  (only %1 in the file)").arg(r.inFile);
            if (i < levels.size())
                out << "  " << LevelsText(levels.at(i));
            out << "\n";
        }
    }
    if (bank.problems.isEmpty())
        out << "problems              none\n";
    for (const QString &problem : ProblemTexts(bank.problems))
        out << "problem               " << Printable(problem) << "\n";
    out.flush();
}

} // namespace

int Info(const QStringList &rest)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"));
    parser.addOption(json);
    QString error;
    if (!ParseCommand(parser, QStringLiteral("info"), rest, &error))
        return UsageError(error);
    if (parser.positionalArguments().size() != 1)
        return UsageError(QStringLiteral("info needs exactly one bank"));
    const QString path = parser.positionalArguments().constFirst();

    ZksBank bank;
    if (!ReadZksBank(path, &bank, &error))
        return Refuse(path, error);
    // Each region's levels, as the device will play it; a region the file
    // cuts short is measured on what there is.
    QVector<LayerLevels> levels;
    for (const ZksRegion &region : std::as_const(bank.regions)) {
        QByteArray audio;
        if (!ReadZksRegion(bank, region, &audio, &error))
            break;
        levels.append(MeasureSamples(DropPadding(audio)));
    }
    if (parser.isSet(json))
        Out() << QJsonDocument(BankJson(path, bank, levels)).toJson() << Qt::flush;
    else
        PrintBank(path, bank, levels);
    return bank.problems.isEmpty() ? kExitOk : kExitFailed;
}

