#include <QtTest>

class TestZkstool : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestZkstool)
#include "tst_zkstool.moc"
