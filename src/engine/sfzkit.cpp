#include "sfzkit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Deeper nesting than this is taken for a loop that names files differently.
const int kMaxIncludeDepth = 16;
// Larger SFZ text than this is no drum kit.
const qint64 kMaxSfzBytes = 16 * 1024 * 1024;

// A line of the kit's text after comments, defines and includes, with where
// it came from.
struct SourceLine {
    QString file;
    int number = 0;
    QString text;
};

// The text with /* */ and // comments blanked out, line breaks kept so that
// line numbers stay true.
QString WithoutComments(const QString &text)
{
    QString out;
    out.reserve(text.size());
    bool block = false;
    bool line = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('\n')) {
            line = false;
            out += c;
            continue;
        }
        if (block) {
            if (c == QLatin1Char('*') && next == QLatin1Char('/')) {
                block = false;
                ++i;
            }
            continue;
        }
        if (line)
            continue;
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            block = true;
            ++i;
            continue;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('/')) {
            line = true;
            continue;
        }
        out += c;
    }
    return out;
}

QString DecodeText(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QString text = QString::fromUtf8(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

class Preprocessor
{
public:
    Preprocessor(const QString &kitFolder) : folder(QDir(kitFolder).absolutePath())
    {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        canonicalFolder = canonical.isEmpty() ? folder : canonical;
    }

    bool Add(const QString &fileName, const QString &text, QVector<SourceLine> *lines, QString *error)
    {
        const QStringList rows = WithoutComments(text).split(QLatin1Char('\n'));
        for (int i = 0; i < rows.size(); ++i) {
            const QString row = rows.at(i).trimmed();
            if (row.startsWith(QLatin1String("#define"))) {
                Define(row);
                continue;
            }
            if (row.startsWith(QLatin1String("#include"))) {
                if (!Include(fileName, i + 1, Substituted(row), lines, error))
                    return false;
                continue;
            }
            lines->append({fileName, i + 1, Substituted(rows.at(i))});
        }
        return true;
    }

private:
    void Define(const QString &row)
    {
        static const QRegularExpression pattern(QStringLiteral("^#define\\s+(\\$\\w+)\\s+(.*)$"));
        const QRegularExpressionMatch match = pattern.match(row);
        if (!match.hasMatch())
            return;
        defines[match.captured(1)] = Substituted(match.captured(2).trimmed());
        // Longest first, so that $KICK never eats the start of $KICK2.
        names = defines.keys();
        std::sort(names.begin(), names.end(),
                  [](const QString &a, const QString &b) { return a.size() > b.size(); });
    }

    QString Substituted(QString text) const
    {
        if (!text.contains(QLatin1Char('$')))
            return text;
        for (const QString &name : names)
            text.replace(name, defines.value(name));
        return text;
    }

    bool Include(const QString &from, int line, const QString &row, QVector<SourceLine> *lines,
                 QString *error)
    {
        static const QRegularExpression pattern(QStringLiteral("^#include\\s+\"([^\"]*)\""));
        const QRegularExpressionMatch match = pattern.match(row);
        const QString where = QStringLiteral("%1, line %2").arg(QFileInfo(from).fileName()).arg(line);
        if (!match.hasMatch()) {
            *error = QStringLiteral("%1: an #include names no file in quotes").arg(where);
            return false;
        }
        QString name = match.captured(1);
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString path = QDir::cleanPath(QDir(folder).absoluteFilePath(name));
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty()) {
            *error = QStringLiteral("%1: the included file %2 does not exist").arg(where, name);
            return false;
        }
        if (!canonical.startsWith(canonicalFolder + QLatin1Char('/'))) {
            *error = QStringLiteral("%1: the included file %2 lies outside the kit's folder")
                         .arg(where, name);
            return false;
        }
        if (stack.contains(canonical) || stack.size() >= kMaxIncludeDepth) {
            *error = QStringLiteral("%1: including %2 again would loop").arg(where, name);
            return false;
        }
        QFile file(canonical);
        if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSfzBytes) {
            *error = QStringLiteral("%1: the included file %2 can't be read").arg(where, name);
            return false;
        }
        stack.append(canonical);
        const bool added = Add(canonical, DecodeText(file.readAll()), lines, error);
        stack.removeLast();
        return added;
    }

    QString folder;
    QString canonicalFolder;
    QHash<QString, QString> defines;
    QStringList names;
    QStringList stack;
};

// One header or opcode of a line.
struct Token {
    QString header; // set for a header
    QString opcode; // set for an opcode ...
    QString value;  // ... with its value
};

// A value runs to the next opcode or header, so it may hold spaces.
QVector<Token> Tokens(const QString &text)
{
    static const QRegularExpression mark(QStringLiteral("<(\\w+)>|(?:^|(?<=\\s|>))([A-Za-z0-9_]+)="));
    QVector<Token> tokens;
    QRegularExpressionMatchIterator it = mark.globalMatch(text);
    int valueStart = -1;
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (valueStart >= 0 && !tokens.isEmpty())
            tokens.last().value = text.mid(valueStart, match.capturedStart() - valueStart).trimmed();
        valueStart = -1;
        Token token;
        if (match.capturedLength(1) > 0) {
            token.header = match.captured(1).toLower();
        } else {
            token.opcode = match.captured(2).toLower();
            valueStart = match.capturedEnd();
        }
        tokens.append(token);
    }
    if (valueStart >= 0 && !tokens.isEmpty())
        tokens.last().value = text.mid(valueStart).trimmed();
    return tokens;
}

using Opcodes = QMap<QString, QString>;

bool ToInt(const QString &text, qint64 *value)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (ok)
        *value = v;
    return ok;
}

bool ToDouble(const QString &text, double *value)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (ok && std::isfinite(v))
        *value = v;
    return ok && std::isfinite(v);
}

int Clamped(qint64 value, int low, int high)
{
    return int(std::max<qint64>(low, std::min<qint64>(high, value)));
}

// What a region's opcodes make of it; false when it names no sample.
bool MakeRegion(const Opcodes &opcodes, const QString &samplesFolder, SfzKit *kit, SfzRegion *region)
{
    for (auto it = opcodes.constBegin(); it != opcodes.constEnd(); ++it) {
        const QString &name = it.key();
        const QString &value = it.value();
        qint64 number = 0;
        double real = 0;
        if (name == QLatin1String("sample")) {
            region->sample = value;
        } else if (name == QLatin1String("key")) {
            const int key = SfzKeyNumber(value);
            if (key >= 0)
                region->loKey = region->hiKey = key;
        } else if (name == QLatin1String("lokey")) {
            const int key = SfzKeyNumber(value);
            if (key >= 0)
                region->loKey = key;
        } else if (name == QLatin1String("hikey")) {
            const int key = SfzKeyNumber(value);
            if (key >= 0)
                region->hiKey = key;
        } else if (name == QLatin1String("lovel")) {
            if (ToInt(value, &number))
                region->loVel = Clamped(number, 1, 127);
        } else if (name == QLatin1String("hivel")) {
            if (ToInt(value, &number))
                region->hiVel = Clamped(number, 1, 127);
        } else if (name == QLatin1String("seq_position")) {
            if (ToInt(value, &number))
                region->seqPosition = Clamped(number, 1, 1000000);
        } else if (name == QLatin1String("lorand")) {
            if (ToDouble(value, &real))
                region->loRand = real;
        } else if (name == QLatin1String("trigger")) {
            region->attack = value.compare(QLatin1String("attack"), Qt::CaseInsensitive) == 0;
        } else if (name == QLatin1String("volume")) {
            ToDouble(value, &region->volumeDb);
        } else if (name == QLatin1String("amplitude")) {
            ToDouble(value, &region->amplitude);
        } else if (name == QLatin1String("offset")) {
            if (ToInt(value, &number) && number >= 0)
                region->offset = number;
        } else if (name == QLatin1String("end")) {
            if (ToInt(value, &number) && number > 0)
                region->end = number;
        }
    }
    if (region->sample.isEmpty())
        return false;
    // A key given as "key" sets both ends; a region that only sets one end
    // keeps the other's default.
    if (region->loKey > region->hiKey)
        std::swap(region->loKey, region->hiKey);
    QString sample = region->sample;
    sample.replace(QLatin1Char('\\'), QLatin1Char('/'));
    region->sample = QDir::cleanPath(QDir(samplesFolder).absoluteFilePath(sample));
    if (region->attack)
        return true;
    ++kit->releaseRegions;
    return false;
}

// Opcodes that this reader acts on, or that only qualify ones it acts on.
bool IsKnownOpcode(const QString &name)
{
    static const QStringList known{
        QStringLiteral("sample"),       QStringLiteral("key"),        QStringLiteral("lokey"),
        QStringLiteral("hikey"),        QStringLiteral("lovel"),      QStringLiteral("hivel"),
        QStringLiteral("seq_position"), QStringLiteral("seq_length"), QStringLiteral("lorand"),
        QStringLiteral("hirand"),       QStringLiteral("trigger"),    QStringLiteral("volume"),
        QStringLiteral("amplitude"),    QStringLiteral("offset"),     QStringLiteral("end"),
        QStringLiteral("default_path"), QStringLiteral("note_name")};
    return known.contains(name) || name.startsWith(QLatin1String("label_key"));
}

bool Parse(const QVector<SourceLine> &lines, const QString &folder, SfzKit *kit)
{
    Opcodes global, master, group, region;
    QString defaultPath;
    QString header;
    int regionLine = 0;
    QString regionFile;
    const auto finishRegion = [&]() {
        if (header != QLatin1String("region"))
            return;
        Opcodes merged = global;
        for (const Opcodes *level : {&master, &group, &region}) {
            for (auto it = level->constBegin(); it != level->constEnd(); ++it)
                merged.insert(it.key(), it.value());
        }
        SfzRegion made;
        made.line = regionLine;
        made.file = regionFile;
        QString samplesFolder = folder;
        if (!defaultPath.isEmpty()) {
            QString path = defaultPath;
            path.replace(QLatin1Char('\\'), QLatin1Char('/'));
            samplesFolder = QDir(folder).absoluteFilePath(path);
        }
        if (MakeRegion(merged, samplesFolder, kit, &made))
            kit->regions.append(made);
        const QString noteName = merged.value(QStringLiteral("note_name"));
        if (!noteName.isEmpty() && made.loKey == made.hiKey && !kit->keyNames.contains(made.loKey))
            kit->keyNames.insert(made.loKey, noteName);
        region.clear();
    };
    for (const SourceLine &line : lines) {
        for (const Token &token : Tokens(line.text)) {
            if (!token.header.isEmpty()) {
                finishRegion();
                header = token.header;
                if (header == QLatin1String("global")) {
                    global.clear();
                    master.clear();
                    group.clear();
                } else if (header == QLatin1String("master")) {
                    master.clear();
                    group.clear();
                } else if (header == QLatin1String("group")) {
                    group.clear();
                } else if (header == QLatin1String("region")) {
                    regionLine = line.number;
                    regionFile = line.file;
                }
                continue;
            }
            const QString &name = token.opcode;
            if (!IsKnownOpcode(name))
                ++kit->ignored[name];
            if (name.startsWith(QLatin1String("label_key"))) {
                bool ok = false;
                const int key = name.mid(9).toInt(&ok);
                if (ok && key >= 0 && key <= 127 && !token.value.isEmpty())
                    kit->keyNames.insert(key, token.value);
                continue;
            }
            if (name == QLatin1String("default_path")) {
                defaultPath = token.value;
                continue;
            }
            if (header == QLatin1String("global"))
                global.insert(name, token.value);
            else if (header == QLatin1String("master"))
                master.insert(name, token.value);
            else if (header == QLatin1String("group"))
                group.insert(name, token.value);
            else if (header == QLatin1String("region"))
                region.insert(name, token.value);
        }
    }
    finishRegion();
    return true;
}

} // namespace

double SfzRegion::Gain() const
{
    return std::pow(10.0, volumeDb / 20.0) * amplitude / 100.0;
}

bool ParseSfzText(const QByteArray &text, const QString &folder, SfzKit *kit, QString *error)
{
    Preprocessor preprocessor(folder);
    QVector<SourceLine> lines;
    const QString name = kit->path.isEmpty() ? QStringLiteral("kit.sfz") : kit->path;
    if (!preprocessor.Add(name, DecodeText(text), &lines, error))
        return false;
    return Parse(lines, folder, kit);
}

bool ReadSfzKit(const QString &path, SfzKit *kit, QString *error)
{
    *kit = SfzKit();
    kit->path = path;
    kit->name = QFileInfo(path).completeBaseName();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: can't be read").arg(QFileInfo(path).fileName());
        return false;
    }
    if (file.size() > kMaxSfzBytes) {
        *error = QStringLiteral("%1: too large for an SFZ file").arg(QFileInfo(path).fileName());
        return false;
    }
    return ParseSfzText(file.readAll(), QFileInfo(path).absolutePath(), kit, error);
}

int SfzKeyNumber(const QString &text)
{
    const QString t = text.trimmed().toLower();
    bool ok = false;
    const int number = t.toInt(&ok);
    if (ok)
        return number >= 0 && number <= 127 ? number : -1;
    static const QRegularExpression pattern(QStringLiteral("^([a-g])([#b]?)(-?\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(t);
    if (!match.hasMatch())
        return -1;
    static const int semitones[] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
    int key = semitones[match.captured(1).at(0).unicode() - 'a'];
    if (match.captured(2) == QLatin1String("#"))
        ++key;
    else if (match.captured(2) == QLatin1String("b"))
        --key;
    const int octave = match.captured(3).toInt(&ok);
    if (!ok || octave < -1 || octave > 9)
        return -1;
    key += (octave + 1) * 12;
    return key >= 0 && key <= 127 ? key : -1;
}

QString SfzNoteName(int key)
{
    static const char *const names[] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
    return QStringLiteral("%1%2 (%3)")
        .arg(QLatin1String(names[key % 12]))
        .arg(key / 12 - 1)
        .arg(key);
}

QString SfzKeyName(const SfzKit &kit, int key)
{
    return kit.keyNames.value(key, SfzNoteName(key));
}

QString IgnoredLine(const QMap<QString, int> &ignored)
{
    QStringList parts;
    for (auto it = ignored.constBegin(); it != ignored.constEnd(); ++it)
        parts << QStringLiteral("%1 \u00d7%2").arg(it.key()).arg(it.value());
    if (parts.isEmpty())
        return QString();
    return QStringLiteral("ignored: ") + parts.join(QStringLiteral(", "));
}

QString SfzIgnoredLine(const SfzKit &kit)
{
    return IgnoredLine(kit.ignored);
}

QVector<int> SfzKeys(const SfzKit &kit)
{
    QVector<int> keys;
    for (const SfzRegion &region : kit.regions) {
        for (int key = region.loKey; key <= region.hiKey; ++key) {
            if (!keys.contains(key))
                keys.append(key);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

QVector<SfzBand> SfzKeyBands(const SfzKit &kit, int key, int *leftOut)
{
    QVector<SfzRegion> regions;
    int dropped = 0;
    for (const SfzRegion &region : kit.regions) {
        if (region.loKey > key || region.hiKey < key || region.loVel > region.hiVel)
            continue;
        if (region.seqPosition > 1) {
            ++dropped;
            continue;
        }
        regions.append(region);
    }
    // Of random picks over the same velocities, the one with the lowest lorand.
    QVector<SfzRegion> kept;
    for (const SfzRegion &region : regions) {
        bool lowest = true;
        for (const SfzRegion &other : regions) {
            if (other.loVel == region.loVel && other.hiVel == region.hiVel && other.loRand < region.loRand)
                lowest = false;
        }
        if (lowest)
            kept.append(region);
        else
            ++dropped;
    }
    if (leftOut)
        *leftOut = dropped;

    QVector<SfzBand> bands;
    QVector<int> previous;
    for (int v = 1; v <= 127; ++v) {
        QVector<int> playing;
        for (int i = 0; i < kept.size(); ++i) {
            if (kept.at(i).loVel <= v && v <= kept.at(i).hiVel)
                playing.append(i);
        }
        // A velocity that plays nothing is played by the band below it, as
        // the device plays the layer with the highest threshold reached.
        if (playing.isEmpty() || playing == previous)
            continue;
        SfzBand band;
        band.threshold = v;
        for (int i : playing)
            band.regions.append(kept.at(i));
        bands.append(band);
        previous = playing;
    }
    return bands;
}
