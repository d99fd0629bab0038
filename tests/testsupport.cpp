#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

#include "fileprocessor.h"
#include "zkslayout.h"

QByteArray Wav16(quint16 channels, quint32 rate, const QVector<qint16> &samples)
{
    QByteArray bytes = CanonicalWavHeader(channels, rate, 16, quint32(samples.size() * 2));
    for (qint16 s : samples)
        AppendLE(bytes, quint16(s), 2);
    return bytes;
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool WriteSilentWave(const QString &path, quint16 channels, quint32 rate, qint64 frames)
{
    const qint64 dataSize = frames * channels * 2;
    if (!WriteBytes(path, CanonicalWavHeader(channels, rate, 16, quint32(dataSize))))
        return false;
    QFile file(path);
    return file.resize(file.size() + dataSize);
}

FreshWorkingFolder::FreshWorkingFolder() : previous(QDir::currentPath())
{
    QDir::setCurrent(folder.path());
}

FreshWorkingFolder::~FreshWorkingFolder()
{
    QDir::setCurrent(previous);
}

QStringList FolderTree(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

void AddResultMessageRows()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("warning");
    QTest::newRow("-1") << -1 << "WARNING" << "No File Choosen" << false;
    QTest::newRow("-2") << -2 << "ERROR" << "File Error" << false;
    QTest::newRow("-3") << -3 << "ERROR" << "Incomatible file format" << false;
    QTest::newRow("-4") << -4 << "ERROR" << "File Error" << false;
    QTest::newRow("-5") << -5 << "ERROR" << "File too big!" << false;
    QTest::newRow("-6") << -6 << "ERROR" << "Filename is toooo long!" << false;
    QTest::newRow("-7") << -7 << "ERROR" << "Not enough space!" << false;
    QTest::newRow("-8") << -8 << "MESSAGE" << "Clear Complete!" << true;
    QTest::newRow("-9") << -9 << "ERROR" << "Upload has been broken!" << false;
    QTest::newRow("-10") << -10 << "MESSAGE" << "Upload Complete!" << true;
    QTest::newRow("0") << 0 << "ERROR" << "Unknown Error" << false;
    QTest::newRow("5") << 5 << "ERROR" << "Unknown Error" << false;
    QTest::newRow("-11") << -11 << "ERROR" << "Unknown Error" << false;
}

void UsePrivateSettings(const QString &folder)
{
    QSettings::setDefaultFormat(QSettings::NativeFormat);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}
