#include <QtTest>

class TestConvert : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestConvert)
#include "tst_convert.moc"
