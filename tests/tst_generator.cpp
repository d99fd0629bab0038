#include <QtTest>

class TestGenerator : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestGenerator)
#include "tst_generator.moc"
