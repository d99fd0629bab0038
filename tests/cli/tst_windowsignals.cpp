#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

#include "testmain.h"
#include "testsupport.h"
#include "zkslayout.h"

// The window, ended by a signal, leaves nothing in its temporary folder.
class TestWindowSignals : public QObject
{
    Q_OBJECT

private slots:
    void signalLeavesNothing_data();
    void signalLeavesNothing();
};

void TestWindowSignals::signalLeavesNothing_data()
{
    QTest::addColumn<int>("signalNumber");
#ifdef Q_OS_UNIX
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
#endif
}

void TestWindowSignals::signalLeavesNothing()
{
#ifndef Q_OS_LINUX
    QSKIP("Needs Linux to send the signals");
#else
    QFETCH(int, signalNumber);
    const DefaultDisposition standard(signalNumber);
    QTemporaryDir tmp;
    const QString temp = tmp.filePath(QStringLiteral("temp"));
    QVERIFY(QDir().mkpath(temp));
    // A sound named on the command line is converted into the working folder.
    const QString sound = tmp.filePath(QStringLiteral("kick.wav"));
    QVERIFY(WriteBytes(sound, Wav16(1, kBankRate, Ramp(4000))));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), temp);
    env.insert(QStringLiteral("HOME"), tmp.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.filePath(QStringLiteral("home/.config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Else Qt makes one in the temporary folder.
    const QString runtime = tmp.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/QuadrelX8FileGen"), {sound});
    QVERIFY(program.waitForStarted());
    const bool converted = SeenWhileRunning(program, [&]() {
        for (const QString &entry : FolderTree(temp)) {
            if (entry.endsWith(QLatin1String("/kick.wav")))
                return true;
        }
        return false;
    });
    QVERIFY2(converted, qPrintable(QString::fromLocal8Bit(program.readAllStandardError())));
    QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
    if (!program.waitForFinished(30000)) {
        program.kill();
        program.waitForFinished();
        QFAIL("the window did not end on the signal");
    }
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 128 + signalNumber);
    QCOMPARE(FolderTree(temp), QStringList());
#endif
}

ZK_TEST(TestWindowSignals)
#include "tst_windowsignals.moc"
