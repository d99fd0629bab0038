#ifndef MANIFEST_H
#define MANIFEST_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// A list of banks for zkstool build-all: a CSV file with one row per layer,
//   bank,layer_file[,threshold]
// as a user types it or a spreadsheet exports it.

struct ManifestRow {
    int line = 0; // the line the row starts on, from 1
    QString bank;
    QString layerFile;
    QString threshold; // as written; empty when the row gives none
    QString error;     // why the row can't be used; empty when it can
};

// The rows of a manifest, in file order. Takes RFC 4180 quoting (commas,
// doubled quotes and line breaks inside a quoted field), a UTF-8 byte-order
// mark, line ends of CRLF, LF or CR, and spaces or tabs around fields (kept
// inside quotes). Empty lines, rows of empty fields and a first row reading
// "bank,layer_file[,threshold]" are left out; empty fields after the third
// are ignored. A row that can't be read keeps what it could of its bank's
// name, so the bank can be named when it is skipped.
QVector<ManifestRow> ReadManifest(const QByteArray &bytes);

struct ManifestBank {
    QString name;
    int line = 0; // the line of its first row
    QStringList layerFiles;
    QStringList thresholds; // one per layer, or none at all
    QString problem;        // why the bank is skipped; empty when it may be built
};

// The banks of the rows in the order they first appear, each with its layers
// in row order. A bank with a row that can't be read, with more rows than a
// bank has layers, or with thresholds on some rows only, gets a problem that
// says so with a line number. What is wrong with rows that name no bank goes
// to `errors`, one line each.
QVector<ManifestBank> ManifestBanks(const QVector<ManifestRow> &rows, QStringList *errors);

#endif
