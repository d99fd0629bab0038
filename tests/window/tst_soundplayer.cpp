#include <QtTest>

#include <QSoundEffect>
#include <QTemporaryDir>

#include "soundplayer.h"
#include "testmain.h"
#include "widgetsupport.h"

// Playing a file through the default sound output, the same on Qt 5 and
// Qt 6: each call starts a playback of its own, held by its owner, and one
// that cannot play goes away by itself.
class TestSoundPlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eachCallStartsItsOwnPlayback();
    void unplayableFileRemovesItsPlayback_data();
    void unplayableFileRemovesItsPlayback();
    void ownerEndsItsPlaybacks();

private:
    QTemporaryDir folder;
    QString wave;
};

void TestSoundPlayer::initTestCase()
{
    QVERIFY(folder.isValid());
    wave = folder.filePath(QStringLiteral("beep.wav"));
    QVector<qint16> samples(4410);
    for (int i = 0; i < samples.size(); ++i)
        samples[i] = qint16(i % 100 * 200 - 10000);
    QVERIFY(WriteBytes(wave, Wav16(1, 44100, samples)));
    QVERIFY(WriteBytes(folder.filePath(QStringLiteral("noise.wav")), QByteArray(3000, 'x')));
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("folder.wav")));
}

void TestSoundPlayer::eachCallStartsItsOwnPlayback()
{
    QObject owner;
    PlaySoundFile(&owner, wave);
    PlaySoundFile(&owner, wave);
    const QList<QSoundEffect *> playbacks = owner.findChildren<QSoundEffect *>();
    QCOMPARE(playbacks.size(), 2);
    QVERIFY(playbacks.at(0) != playbacks.at(1));
    for (QSoundEffect *playback : playbacks)
        QCOMPARE(playback->source(), QUrl::fromLocalFile(wave));
}

void TestSoundPlayer::unplayableFileRemovesItsPlayback_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << "missing.wav";
    QTest::newRow("not a sound") << "noise.wav";
    QTest::newRow("folder") << "folder.wav";
}

void TestSoundPlayer::unplayableFileRemovesItsPlayback()
{
    QFETCH(QString, name);
    QObject owner;
    PlaySoundFile(&owner, folder.filePath(name));
    QCOMPARE(owner.findChildren<QSoundEffect *>().size(), 1);
    QTRY_VERIFY(owner.findChildren<QSoundEffect *>().isEmpty());
}

void TestSoundPlayer::ownerEndsItsPlaybacks()
{
    auto owner = std::make_unique<QObject>();
    PlaySoundFile(owner.get(), wave);
    QPointer<QSoundEffect> playback = owner->findChild<QSoundEffect *>();
    QVERIFY(playback);
    owner.reset();
    QVERIFY(!playback);
}

ZK_TEST(TestSoundPlayer)
#include "tst_soundplayer.moc"
