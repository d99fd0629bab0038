// zkstool build: one bank from sound files and banks.

#include <QCommandLineParser>
#include <QTextStream>

#include <cmath>

#include "bankreader.h"
#include "fileprocessor.h"
#include "layerrules.h"
#include "resultcodes.h"
#include "tailtrim.h"
#include "zkstool.h"

// --- build -----------------------------------------------------------------

bool GateFromLabel(const QString &text, quint16 *amplitude)
{
    const int first = text.compare(QStringLiteral("off"), Qt::CaseInsensitive) == 0 ? 0 : 1;
    QString label;
    for (int position = first; GateForPosition(position, &label, amplitude); ++position) {
        if (position == 0 || label.compare(text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

namespace {

// Names the first threshold that makes the table invalid and the values it
// may take after the ones before it, found by asking the shared rule with
// the smallest falling tail.
QString ExplainThresholds(const ThresholdTable given, int count)
{
    for (int n = 1; n <= count; ++n) {
        ThresholdTable probe = {};
        for (int k = 1; k <= count; ++k)
            probe[k] = k < n ? given[k] : count - k + 1;
        int low = 0;
        int high = -1;
        for (int value = 0; value <= 127; ++value) {
            probe[n] = value;
            if (ThresholdsAreValid(probe, count)) {
                if (high < low)
                    low = value;
                high = value;
            }
        }
        if (given[n] < low || given[n] > high) {
            const QString range = low == high ? QString::number(low)
                                              : QStringLiteral("%1..%2").arg(low).arg(high);
            return QStringLiteral("threshold %1 is %2, but must be %3 (thresholds fall strictly "
                                  "from layer to layer and the last one is 1)")
                .arg(n)
                .arg(given[n])
                .arg(range);
        }
    }
    return QString();
}

} // namespace

bool ParseThresholds(const QStringList &parts, int count, ThresholdTable table, QString *error)
{
    if (parts.size() != count) {
        *error = QStringLiteral("give one threshold per file: %1 files, %2 thresholds")
                     .arg(count)
                     .arg(parts.size());
        return false;
    }
    for (int n = 1; n <= count; ++n) {
        bool ok = false;
        table[n] = parts.at(n - 1).trimmed().toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("threshold %1 (\"%2\") is not a whole number")
                         .arg(n)
                         .arg(parts.at(n - 1));
            return false;
        }
    }
    if (!ThresholdsAreValid(table, count)) {
        *error = ExplainThresholds(table, count);
        return false;
    }
    return true;
}

namespace {

// "--trim-tails" alone means the default level: QCommandLineParser knows no
// optional values, so the bare option gets it written out.
QStringList WithTrimTailsLevel(QStringList arguments)
{
    for (QString &argument : arguments) {
        if (argument == QLatin1String("--trim-tails"))
            argument = QStringLiteral("--trim-tails=%1").arg(kDefaultTailDbfs);
    }
    return arguments;
}

// A level such as "-60" or "-60dB", below full scale.
bool ParseDbfs(QString text, double *dbfs)
{
    if (text.endsWith(QLatin1String("db"), Qt::CaseInsensitive))
        text.chop(2);
    bool ok = false;
    *dbfs = text.trimmed().toDouble(&ok);
    return ok && *dbfs < 0 && std::isfinite(*dbfs);
}

// Says the bank was not written; the exit status names the signal.
int Interrupted()
{
    Err() << "zkstool: interrupted; no bank written" << Qt::endl;
    return InterruptedExitCode();
}
} // namespace

int Build(const QStringList &rest)
{
    CatchInterruptions();
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QString(), QStringLiteral("BANK"));
    const QCommandLineOption gate(QStringLiteral("gate"), QString(), QStringLiteral("LEVEL"),
                                  QStringLiteral("off"));
    const QCommandLineOption thresholds(QStringLiteral("thresholds"), QString(),
                                        QStringLiteral("LIST"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"));
    const QCommandLineOption external(QStringLiteral("external-converters"));
    const QCommandLineOption trimTails(QStringLiteral("trim-tails"), QString(), QStringLiteral("DB"));
    const QCommandLineOption order(QStringLiteral("order-by-loudness"));
    parser.addOptions({output, gate, thresholds, force, verboseOption, external, trimTails, order});
    QString error;
    if (!ParseCommand(parser, QStringLiteral("build"), WithTrimTailsLevel(rest), &error))
        return UsageError(error);
    if (parser.isSet(verboseOption))
        ShowDebugLines();

    BankRequest request;
    request.target = parser.value(output);
    if (request.target.isEmpty())
        return UsageError(QStringLiteral("build needs the bank to write: -o BANK.zks"));
    if (parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("build needs 1 to %1 sound files").arg(kMaxLayers));
    if (parser.isSet(trimTails) && !ParseDbfs(parser.value(trimTails), &request.tailDbfs))
        return UsageError(QStringLiteral("--trim-tails takes a level in dBFS below 0, such as "
                                         "-60, not \"%1\"")
                              .arg(parser.value(trimTails)));
    request.trimTails = parser.isSet(trimTails);
    request.orderByLoudness = parser.isSet(order);
    // A bank given as input stands for its layers, in order, at its place.
    for (const QString &file : parser.positionalArguments()) {
        if (!file.endsWith(QLatin1String(".zks"), Qt::CaseInsensitive)) {
            request.files << file;
            continue;
        }
        QVector<BankLayer> opened;
        ThresholdTable stored;
        QVector<BankProblem> problems;
        if (!ReadBankLayers(file, WorkFolder(), &opened, stored, &problems))
            return Refuse(RefusalFor(RESULT_OPEN_FAILED, file, ProblemTexts(problems).join(QStringLiteral("; "))));
        for (int k = 0; k < opened.size(); ++k) {
            const int place = int(request.files.size());
            request.opened.insert(place, opened.at(k).file);
            request.shownAs.insert(place, QStringLiteral("%1, layer %2 (%3)")
                                              .arg(file)
                                              .arg(k + 1)
                                              .arg(opened.at(k).file.name));
            request.files << opened.at(k).file.path;
        }
    }
    if (request.files.size() > kMaxLayers)
        return UsageError(TooManyFilesText(int(request.files.size())));
    const int count = int(request.files.size());

    if (!GateFromLabel(parser.value(gate), &request.gate))
        return UsageError(QStringLiteral("unknown gate \"%1\": choose %2")
                              .arg(parser.value(gate), GateChoices()));
    DefaultThresholds(request.thresholds, count);
    if (parser.isSet(thresholds)
        && !ParseThresholds(parser.value(thresholds).split(QLatin1Char(',')), count,
                            request.thresholds, &error))
        return UsageError(error);
    request.thresholdsGiven = parser.isSet(thresholds);
    request.force = parser.isSet(force);
    request.inProcess = !parser.isSet(external);
    request.cancelled = InterruptionFlag();

    const BankResult result = BuildBank(request);
    for (const QString &line : result.lines)
        Out() << line << Qt::endl;
    switch (result.outcome) {
    case BankResult::Outcome::Interrupted:
        return Interrupted();
    case BankResult::Outcome::Refused:
        return Refuse(result.refusal);
    case BankResult::Outcome::Built:
        break;
    }
    return kExitOk;
}
