#include <QtTest>

class TestSoundcheck : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestSoundcheck)
#include "tst_soundcheck.moc"
