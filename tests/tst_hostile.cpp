#include <QtTest>

class TestHostile : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
