// Any bytes as a bank manifest for zkstool build-all: the rows read from
// them, the banks made of the rows, and the usable rows written back as CSV
// (every field quoted) and read again, which must give them unchanged.

#include <QSet>

#include "fuzzsupport.h"
#include "layerrules.h"
#include "manifest.h"

namespace {

// Lines as the reader counts them: a line end is CRLF, LF or CR.
int LineCount(const QByteArray &bytes)
{
    int lines = 1;
    for (int i = 0; i < bytes.size(); ++i) {
        const bool crlf = bytes.at(i) == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n';
        if (bytes.at(i) == '\n' || (bytes.at(i) == '\r' && !crlf))
            ++lines;
    }
    return lines;
}

void CheckRows(const QVector<ManifestRow> &rows, int lines)
{
    int previous = 0;
    for (const ManifestRow &row : rows) {
        FUZZ_CHECK(row.line > previous && row.line <= lines);
        previous = row.line;
        if (row.error.isEmpty())
            FUZZ_CHECK(!row.bank.isEmpty() && !row.layerFile.isEmpty());
    }
}

void CheckBanks(const QVector<ManifestRow> &rows)
{
    QStringList errors;
    const QVector<ManifestBank> banks = ManifestBanks(rows, &errors);
    int usable = 0;
    int nameless = 0;
    for (const ManifestRow &row : rows) {
        usable += row.error.isEmpty() ? 1 : 0;
        nameless += row.bank.isEmpty() ? 1 : 0;
    }
    FUZZ_CHECK(errors.size() == nameless);
    QSet<QString> names;
    int layers = 0;
    for (const ManifestBank &bank : banks) {
        FUZZ_CHECK(!bank.name.isEmpty() && !names.contains(bank.name));
        names.insert(bank.name);
        layers += int(bank.layerFiles.size());
        if (!bank.problem.isEmpty())
            continue;
        FUZZ_CHECK(!bank.layerFiles.isEmpty() && bank.layerFiles.size() <= kMaxLayers);
        FUZZ_CHECK(bank.thresholds.isEmpty() || bank.thresholds.size() == bank.layerFiles.size());
        FUZZ_CHECK(!bank.thresholds.contains(QString()));
    }
    FUZZ_CHECK(layers == usable);
}

QByteArray Quoted(const QString &field)
{
    return '"' + field.toUtf8().replace('"', "\"\"") + '"';
}

void CheckRoundTrip(const QVector<ManifestRow> &rows)
{
    // A header first, so that no row written back can pass for one.
    QByteArray written = "bank,layer_file,threshold\r\n";
    QVector<const ManifestRow *> usable;
    for (const ManifestRow &row : rows) {
        if (!row.error.isEmpty())
            continue;
        written += Quoted(row.bank) + ',' + Quoted(row.layerFile) + ',' + Quoted(row.threshold)
            + "\r\n";
        usable << &row;
    }
    const QVector<ManifestRow> again = ReadManifest(written);
    FUZZ_CHECK(again.size() == usable.size());
    for (int i = 0; i < again.size(); ++i) {
        FUZZ_CHECK(again.at(i).error.isEmpty());
        FUZZ_CHECK(again.at(i).bank == usable.at(i)->bank);
        FUZZ_CHECK(again.at(i).layerFile == usable.at(i)->layerFile);
        FUZZ_CHECK(again.at(i).threshold == usable.at(i)->threshold);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Bytes(data, size);
    const QVector<ManifestRow> rows = ReadManifest(bytes);
    CheckRows(rows, LineCount(bytes));
    CheckBanks(rows);
    CheckRoundTrip(rows);
    return 0;
}
