// zkstool extract: a bank's layers as WAVE files.

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

// Whether two paths lead to one file, through links of either kind: the
// same device and inode on POSIX, the same canonical path elsewhere.
bool IsSameFile(const QString &first, const QString &second)
{
#ifdef Q_OS_UNIX
    struct stat a;
    struct stat b;
    return ::stat(QFile::encodeName(first).constData(), &a) == 0
        && ::stat(QFile::encodeName(second).constData(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
#else
    const QString canonical = QFileInfo(first).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(second).canonicalFilePath();
#endif
}

bool WriteWave(const QString &path, const QByteArray &audio, QString *error)
{
    // Never follow what is there: an existing entry (even a link) is removed
    // first, and the new file must be created, not opened.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray wave = CanonicalWavHeader(1, 44100, 16, quint32(audio.size())) + audio;
    if (file.write(wave) != wave.size() || !file.flush()) {
        *error = file.errorString();
        file.close();
        file.remove();
        return false;
    }
    return true;
}

} // namespace

int Extract(const QStringList &rest)
{
    QCommandLineParser parser;
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption trim(QStringLiteral("trim"));
    parser.addOptions({force, trim});
    QString error;
    if (!ParseCommand(parser, QStringLiteral("extract"), rest, &error))
        return UsageError(error);
    if (parser.positionalArguments().size() != 2)
        return UsageError(QStringLiteral("extract needs a bank and a folder"));
    const QString path = parser.positionalArguments().at(0);
    const QString folder = parser.positionalArguments().at(1);

    ZksBank bank;
    if (!ReadZksBank(path, &bank, &error))
        return Refuse(path, error);
    for (const QString &problem : ProblemTexts(bank.problems))
        Refuse(path, problem);
    if (bank.regions.isEmpty())
        return Refuse(path, QStringLiteral("no layers to extract"));
    if (!QDir().mkpath(folder))
        return Refuse(folder, QStringLiteral("cannot create this folder"));

    const QDir dir(folder);
    const QStringList names = WaveNamesFor(bank.regions);
    QStringList targets;
    bool blocked = false;
    for (const QString &name : names) {
        const QString target = dir.filePath(name);
        const QFileInfo info(target);
        if (IsSameFile(target, path)) {
            Refuse(target, QStringLiteral("is the bank being read; not replaced"));
            blocked = true;
        } else if (info.isDir() || ((info.exists() || info.isSymLink()) && !parser.isSet(force))) {
            Refuse(target, info.isDir() ? QStringLiteral("is a folder")
                                        : QStringLiteral("already exists; --force replaces it"));
            blocked = true;
        }
        targets << target;
    }
    if (blocked)
        return kExitFailed;

    int result = bank.problems.isEmpty() ? kExitOk : kExitFailed;
    for (int i = 0; i < bank.regions.size(); ++i) {
        const ZksRegion &region = bank.regions.at(i);
        if (region.inFile == 0) {
            Refuse(path, QStringLiteral("layer %1 is not in the file; nothing written")
                             .arg(region.layer));
            continue;
        }
        QByteArray audio;
        if (!ReadZksRegion(bank, region, &audio, &error))
            return Refuse(path, error);
        audio.truncate(audio.size() & ~1);
        if (parser.isSet(trim))
            audio = DropPadding(audio);
        if (!WriteWave(targets.at(i), audio, &error))
            return Refuse(targets.at(i), error);
        Out() << QStringLiteral("layer %1 -> %2  (%3 bytes of audio%4)")
                     .arg(region.layer)
                     .arg(Printable(targets.at(i)))
                     .arg(audio.size())
                     .arg(region.inFile < region.size ? QStringLiteral(", cut short")
                                                      : QString())
              << Qt::endl;
    }
    return result;
}

