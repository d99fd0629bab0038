// Measures the layer space that trimming quiet tails saves on real sounds.
// Each input is converted as the window converts it (ConvertFile, in this
// process), sized by the sound check (OpenAndCheckFile) and trimmed
// (TrimTailFile, -60 dBFS unless --dbfs says otherwise); prints a markdown
// table with a row per file and the total.
//   bench-trimtails [--dbfs DB] FILE...

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

#include "benchsupport.h"
#include "fileprocessor.h"
#include "resultcodes.h"
#include "tailtrim.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: bench-trimtails [--dbfs DB] FILE...\n");
    return 2;
}

QString Percent(qint64 part, qint64 whole)
{
    return whole > 0 ? QString::number(100.0 * double(part) / double(whole), 'f', 1)
                     : QStringLiteral("-");
}

struct Totals {
    qint64 before = 0;
    qint64 after = 0;
};

// One row: the file's converted length, its layer size untrimmed and
// trimmed, and what trimming saves. A sound the engine refuses gets its
// reason instead and counts for nothing.
void MeasureOne(QTextStream &out, const QString &input, double dbfs, Totals *totals)
{
    ConvertOptions options;
    options.inProcess = true;
    QString reason;
    const QString converted = ConvertFile(input, options, &reason);
    const int before = OpenAndCheckFile(converted);
    if (!QFileInfo(converted).isFile() || before < 0) {
        out << "| " << input << " | not a layer: "
            << (reason.isEmpty() ? MessageFor(before).text : reason) << " | | | | |\n";
        DiscardConverted(converted);
        return;
    }
    QFile file(converted);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? ReadWavHeader(file) : QByteArray();
    const double seconds = double(quint32(WavDataSize(header)))
        / ((IsStereo(header) ? 2 : 1) * 2 * double(WavSampleRate(header)));

    const QString trimmed = NewResultFolder(WorkFolder()) + QLatin1Char('/')
        + QFileInfo(converted).fileName();
    qint64 saved = 0;
    if (!TrimTailFile(converted, trimmed, dbfs, &saved, &reason)) {
        out << "| " << input << " | not trimmed: " << reason << " | | | | |\n";
        DiscardConverted(converted);
        return;
    }
    out << "| " << input << " | " << QString::number(seconds, 'f', 2) << " | " << before << " | "
        << before - saved << " | " << saved << " | " << Percent(saved, before) << " |\n";
    totals->before += before;
    totals->after += before - saved;
    DiscardConverted(converted);
    DiscardConverted(trimmed);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    DropDebugMessages();
    QStringList inputs = QCoreApplication::arguments().mid(1);
    double dbfs = kDefaultTailDbfs;
    if (inputs.size() >= 2 && inputs.first() == QLatin1String("--dbfs")) {
        bool ok = false;
        dbfs = inputs.at(1).toDouble(&ok);
        if (!ok)
            return Usage();
        inputs = inputs.mid(2);
    }
    if (inputs.isEmpty())
        return Usage();

    QTextStream out(stdout);
    out << "| Sound | seconds | layer bytes | trimmed | saved | saved % |\n"
        << "|---|---|---|---|---|---|\n";
    Totals totals;
    for (const QString &input : qAsConst(inputs))
        MeasureOne(out, input, dbfs, &totals);
    const qint64 saved = totals.before - totals.after;
    out << "| **total** | | " << totals.before << " | " << totals.after << " | " << saved << " | "
        << Percent(saved, totals.before) << " |\n";
    RemoveWorkFolder();
    return 0;
}
