#include "manifest.h"

#include <QHash>

#include "layerrules.h"

namespace {

// A place in the bytes, and the line it is on. The bytes that shape a row
// (comma, quote, line ends) are ASCII, which never occurs inside a UTF-8
// sequence, so the bytes are read as they are and each field decoded once
// it is whole.
struct Cursor {
    const QByteArray &bytes;
    int pos = 0;
    int line = 1;

    bool atEnd() const { return pos >= bytes.size(); }
    char peek() const { return bytes.at(pos); }
    bool atLineEnd() const { return atEnd() || peek() == '\n' || peek() == '\r'; }
    void skipBlanks()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t'))
            ++pos;
    }
    // Steps over one line end, CRLF, LF or CR.
    void skipLineEnd()
    {
        if (atEnd())
            return;
        if (peek() == '\r' && pos + 1 < bytes.size() && bytes.at(pos + 1) == '\n')
            ++pos;
        ++pos;
        ++line;
    }
    void skipLine()
    {
        while (!atLineEnd())
            ++pos;
        skipLineEnd();
    }
};

// One row as fields of bytes, or what kept it from being read.
struct Record {
    int line = 0;
    QList<QByteArray> fields;
    QString error;
};

// A quoted field, from after its opening quote to past its closing one; a
// doubled quote stands for one. False when the bytes end first.
bool ReadQuoted(Cursor &c, QByteArray *field)
{
    while (!c.atEnd()) {
        const char ch = c.peek();
        if (ch == '"') {
            ++c.pos;
            if (c.atEnd() || c.peek() != '"')
                return true;
            field->append('"');
            ++c.pos;
        } else if (ch == '\n' || ch == '\r') {
            const int start = c.pos;
            c.skipLineEnd();
            field->append(c.bytes.mid(start, c.pos - start));
        } else {
            field->append(ch);
            ++c.pos;
        }
    }
    return false;
}

QByteArray ReadUnquoted(Cursor &c)
{
    const int start = c.pos;
    while (!c.atLineEnd() && c.peek() != ',')
        ++c.pos;
    int end = c.pos;
    while (end > start && (c.bytes.at(end - 1) == ' ' || c.bytes.at(end - 1) == '\t'))
        --end;
    return c.bytes.mid(start, end - start);
}

// Reads one row and the line end after it. A field that fails is kept as
// far as it goes, so the fields before it can still be told.
Record ReadRecord(Cursor &c)
{
    Record record;
    record.line = c.line;
    for (;;) {
        c.skipBlanks();
        QByteArray field;
        if (!c.atEnd() && c.peek() == '"') {
            ++c.pos;
            const bool closed = ReadQuoted(c, &field);
            record.fields << field;
            if (!closed) {
                record.error = QStringLiteral("a quoted field is not closed");
                return record;
            }
            c.skipBlanks();
            if (!c.atLineEnd() && c.peek() != ',') {
                record.error = QStringLiteral("text after a closing quote");
                c.skipLine();
                return record;
            }
        } else {
            record.fields << ReadUnquoted(c);
        }
        if (c.atLineEnd()) {
            c.skipLineEnd();
            return record;
        }
        ++c.pos; // the comma
    }
}

bool AllEmpty(const QList<QByteArray> &fields)
{
    for (const QByteArray &field : fields) {
        if (!field.isEmpty())
            return false;
    }
    return true;
}

bool IsHeader(const QList<QByteArray> &fields)
{
    const auto is = [&fields](int i, const char *word) {
        return i < fields.size() && fields.at(i).compare(word, Qt::CaseInsensitive) == 0;
    };
    return is(0, "bank") && is(1, "layer_file") && (fields.size() == 2 || is(2, "threshold"));
}

// A field's text, every byte of it: QString::fromUtf8 would drop a
// byte-order mark at the start of what it decodes (Qt 5 also stops at a
// NUL), where in a field it is a character like any other.
QString Decoded(const QByteArray &field)
{
    static const QByteArray kBom("\xEF\xBB\xBF");
    int marks = 0;
    while (field.mid(3 * marks, 3) == kBom)
        ++marks;
    const QByteArray rest = field.mid(3 * marks);
    return QString(marks, QChar(0xFEFF)) + QString::fromUtf8(rest.constData(), int(rest.size()));
}

ManifestRow RowFrom(const Record &record)
{
    ManifestRow row;
    row.line = record.line;
    const QList<QByteArray> &fields = record.fields;
    if (!record.error.isEmpty()) {
        row.error = record.error;
        // The bank's name counts only when a later field is the one that
        // failed.
        if (fields.size() >= 2)
            row.bank = Decoded(fields.at(0));
        return row;
    }
    row.bank = Decoded(fields.at(0));
    row.layerFile = Decoded(fields.value(1));
    row.threshold = Decoded(fields.value(2));
    if (fields.size() < 2 || fields.size() > 3)
        row.error = QStringLiteral("%1 %2; a row is bank,layer_file[,threshold]")
                        .arg(fields.size())
                        .arg(fields.size() == 1 ? QStringLiteral("field")
                                                : QStringLiteral("fields"));
    else if (row.bank.isEmpty())
        row.error = QStringLiteral("no bank name");
    else if (row.layerFile.isEmpty())
        row.error = QStringLiteral("no layer file");
    return row;
}

QString AtLine(int line, const QString &text)
{
    return QStringLiteral("line %1: %2").arg(line).arg(text);
}

} // namespace

QVector<ManifestRow> ReadManifest(const QByteArray &bytes)
{
    Cursor c{bytes};
    if (bytes.startsWith("\xEF\xBB\xBF"))
        c.pos = 3;
    QVector<ManifestRow> rows;
    bool first = true;
    while (!c.atEnd()) {
        Record record = ReadRecord(c);
        if (record.error.isEmpty()) {
            // Spreadsheets export the empty columns of a wider sheet.
            while (record.fields.size() > 3 && record.fields.constLast().isEmpty())
                record.fields.removeLast();
            if (AllEmpty(record.fields))
                continue;
            if (first && IsHeader(record.fields)) {
                first = false;
                continue;
            }
        }
        first = false;
        rows << RowFrom(record);
    }
    return rows;
}

QVector<ManifestBank> ManifestBanks(const QVector<ManifestRow> &rows, QStringList *errors)
{
    QVector<ManifestBank> banks;
    QVector<QVector<int>> lines; // per bank, the line of each layer's row
    QHash<QString, int> index;
    for (const ManifestRow &row : rows) {
        if (row.bank.isEmpty()) {
            *errors << AtLine(row.line, row.error);
            continue;
        }
        if (!index.contains(row.bank)) {
            index.insert(row.bank, int(banks.size()));
            ManifestBank bank;
            bank.name = row.bank;
            bank.line = row.line;
            banks << bank;
            lines << QVector<int>();
        }
        const int i = index.value(row.bank);
        ManifestBank &bank = banks[i];
        if (!row.error.isEmpty()) {
            if (bank.problem.isEmpty())
                bank.problem = AtLine(row.line, row.error);
            continue;
        }
        bank.layerFiles << row.layerFile;
        bank.thresholds << row.threshold;
        lines[i] << row.line;
    }
    for (int i = 0; i < banks.size(); ++i) {
        ManifestBank &bank = banks[i];
        const int count = int(bank.layerFiles.size());
        const int given = count - int(bank.thresholds.count(QString()));
        if (given == 0)
            bank.thresholds.clear();
        if (!bank.problem.isEmpty())
            continue;
        if (count > kMaxLayers)
            bank.problem = AtLine(bank.line, TooManyFilesText(count));
        else if (given > 0 && given < count)
            bank.problem = AtLine(lines[i].at(int(bank.thresholds.indexOf(QString()))),
                                  QStringLiteral("no threshold, while other rows of this bank "
                                                 "give one"));
    }
    return banks;
}
