#include <QtTest>

#include "testmain.h"

#include <limits>

#include "cardnames.h"
#include "layerrules.h"
#include "resultcodes.h"

Q_DECLARE_METATYPE(QVector<int>)
Q_DECLARE_METATYPE(QVector<double>)

namespace {

QVector<int> Table(const ThresholdTable t)
{
    QVector<int> v;
    for (int n = 1; n <= kMaxLayers; ++n)
        v << t[n];
    return v;
}

void Fill(ThresholdTable t, const QVector<int> &v)
{
    for (int n = 1; n <= kMaxLayers; ++n)
        t[n] = v.at(n - 1);
}

} // namespace

class TestLayerRules : public QObject
{
    Q_OBJECT

private slots:
    void defaultSpread_data();
    void defaultSpread();
    void moveThreshold_data();
    void moveThreshold();
    void loudestFirst_data();
    void loudestFirst();
    void thresholdsFromLevels_data();
    void thresholdsFromLevels();
    void layerForHit_data();
    void layerForHit();
    void hitRangeShort_data();
    void hitRangeShort();
    void validThresholds_data();
    void validThresholds();
    void gate_data();
    void gate();
    void availablePercent_data();
    void availablePercent();
    void controlCharacters_data();
    void controlCharacters();
    void storableSizes_data();
    void storableSizes();
    void lastPathPart_data();
    void lastPathPart();
    void soundFileSuffix_data();
    void soundFileSuffix();
    void naturalOrder_data();
    void naturalOrder();
    void naturalSort();
    void cardSafeName_data();
    void cardSafeName();
    void cardSafeLongName_data();
    void cardSafeLongName();
    void distinctCardSafeNames();
};

void TestLayerRules::defaultSpread_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<int>>("expected");
    QTest::newRow("0") << 0 << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("1") << 1 << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("2") << 2 << QVector<int>{64, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("3") << 3 << QVector<int>{85, 43, 1, 1, 1, 1, 1, 1};
    QTest::newRow("4") << 4 << QVector<int>{94, 63, 32, 1, 1, 1, 1, 1};
    QTest::newRow("5") << 5 << QVector<int>{101, 76, 51, 26, 1, 1, 1, 1};
    QTest::newRow("6") << 6 << QVector<int>{106, 85, 64, 43, 22, 1, 1, 1};
    QTest::newRow("7") << 7 << QVector<int>{109, 91, 73, 55, 37, 19, 1, 1};
    QTest::newRow("8: step 16, not 15") << 8 << QVector<int>{113, 97, 81, 65, 49, 33, 17, 1};
}

void TestLayerRules::defaultSpread()
{
    QFETCH(int, count);
    QFETCH(QVector<int>, expected);
    ThresholdTable t;
    Fill(t, {-5, -5, -5, -5, -5, -5, -5, -5}); // stale edits are replaced
    DefaultThresholds(t, count);
    QCOMPARE(Table(t), expected);
    if (count >= 1)
        QVERIFY(ThresholdsAreValid(t, count));
}

void TestLayerRules::moveThreshold_data()
{
    QTest::addColumn<QVector<int>>("before");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("position");
    QTest::addColumn<QVector<int>>("after");

    const QVector<int> two{64, 1, 1, 1, 1, 1, 1, 1};
    const QVector<int> eight{113, 97, 81, 65, 49, 33, 17, 1};
    QTest::newRow("2 layers, layer 1 to 0 stops at 2") << two << 2 << 1 << 0
                                                       << QVector<int>{2, 1, 0, -1, -2, -3, -4, -5};
    QTest::newRow("2 layers, layer 1 to 126") << two << 2 << 1 << 126
                                              << QVector<int>{126, 1, 0, -1, -2, -3, -4, -5};
    QTest::newRow("8 layers, layer 7 to 126 stops at 120")
        << eight << 8 << 7 << 126 << QVector<int>{126, 125, 124, 123, 122, 121, 120, 1};
    QTest::newRow("8 layers, layer 1 to 10") << eight << 8 << 1 << 10
                                             << QVector<int>{10, 9, 8, 7, 6, 5, 4, 1};
    QTest::newRow("8 layers, layer 1 below its bound") << eight << 8 << 1 << 0
                                                       << QVector<int>{8, 7, 6, 5, 4, 3, 2, 1};
    QTest::newRow("3 layers, layer 2 to 100: empty layers fall below 1")
        << QVector<int>{85, 43, 1, 1, 1, 1, 1, 1} << 3 << 2 << 100
        << QVector<int>{101, 100, 1, 0, -1, -2, -3, -4};
    QTest::newRow("no layer selected changes nothing") << two << 2 << 0 << 50 << two;
}

void TestLayerRules::moveThreshold()
{
    QFETCH(QVector<int>, before);
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(int, position);
    QFETCH(QVector<int>, after);
    ThresholdTable t;
    Fill(t, before);
    MoveThreshold(t, count, selected, position);
    QCOMPARE(Table(t), after);
}

void TestLayerRules::loudestFirst_data()
{
    const double silence = -std::numeric_limits<double>::infinity();
    QTest::addColumn<QVector<double>>("levels");
    QTest::addColumn<QVector<int>>("order");
    QTest::newRow("none") << QVector<double>{} << QVector<int>{};
    QTest::newRow("already loudest first") << QVector<double>{-1, -2, -3} << QVector<int>{0, 1, 2};
    QTest::newRow("softest first") << QVector<double>{-3, -2, -1} << QVector<int>{2, 1, 0};
    QTest::newRow("ties keep their order") << QVector<double>{-6, -3, -6, -3}
                                           << QVector<int>{1, 3, 0, 2};
    QTest::newRow("silence last") << QVector<double>{silence, -10, silence, -20}
                                  << QVector<int>{1, 3, 0, 2};
}

void TestLayerRules::loudestFirst()
{
    QFETCH(QVector<double>, levels);
    QFETCH(QVector<int>, order);
    QCOMPARE(LoudestFirst(levels), order);
}

void TestLayerRules::thresholdsFromLevels_data()
{
    const double silence = -std::numeric_limits<double>::infinity();
    QTest::addColumn<QVector<double>>("levels"); // as the layers were added
    QTest::addColumn<QVector<int>>("expected");  // loudest first

    QTest::newRow("no layers") << QVector<double>{} << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("one layer") << QVector<double>{-10} << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("two layers") << QVector<double>{-20, -6} << QVector<int>{64, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("equal levels: the default spread")
        << QVector<double>{-12, -12, -12, -12, -12} << QVector<int>{101, 76, 51, 26, 1, 1, 1, 1};
    QTest::newRow("three, the middle one near the loudest")
        << QVector<double>{-26, -6, -10} << QVector<int>{85, 68, 1, 1, 1, 1, 1, 1};
    QTest::newRow("eight, in the order they were added")
        << QVector<double>{-24, 0, -48, -3, -36, -9, -6, -12}
        << QVector<int>{113, 106, 99, 92, 85, 57, 29, 1};
    QTest::newRow("equal levels in the middle step down")
        << QVector<double>{-6, -12, -12, -12, -30} << QVector<int>{101, 76, 75, 74, 1, 1, 1, 1};
    QTest::newRow("levels that round together step down")
        << QVector<double>{0, -10.1, -10.15, -20} << QVector<int>{94, 47, 46, 1, 1, 1, 1, 1};
    QTest::newRow("one very loud, seven nearly equal soft ones climb from 1")
        << QVector<double>{-40.3, 0, -40, -40.6, -40.1, -40.5, -40.2, -40.4}
        << QVector<int>{113, 7, 6, 5, 4, 3, 2, 1};
    QTest::newRow("seven nearly equal loud ones, one very soft")
        << QVector<double>{-0.3, 0, -0.1, -40, -0.2, -0.5, -0.4, -0.6}
        << QVector<int>{113, 112, 111, 110, 109, 108, 107, 1};
    QTest::newRow("silence is the softest") << QVector<double>{silence, -12, -6}
                                            << QVector<int>{85, 81, 1, 1, 1, 1, 1, 1};
    QTest::newRow("silent layers under a loud one")
        << QVector<double>{silence, -6, silence, silence} << QVector<int>{94, 3, 2, 1, 1, 1, 1, 1};
    QTest::newRow("all silent: the default spread") << QVector<double>{silence, silence, silence}
                                                    << QVector<int>{85, 43, 1, 1, 1, 1, 1, 1};
    QTest::newRow("nine levels: eight layers")
        << QVector<double>{-6, -6, -6, -6, -6, -6, -6, -6, -6}
        << QVector<int>{113, 97, 81, 65, 49, 33, 17, 1};
}

void TestLayerRules::thresholdsFromLevels()
{
    QFETCH(QVector<double>, levels);
    QFETCH(QVector<int>, expected);
    QVector<double> sorted;
    for (int i : LoudestFirst(levels))
        sorted << levels.at(i);
    ThresholdTable t;
    Fill(t, {-5, -5, -5, -5, -5, -5, -5, -5}); // stale edits are replaced
    ThresholdsFromLevels(t, sorted);
    QCOMPARE(Table(t), expected);
    const int count = qMin(int(levels.size()), kMaxLayers);
    if (count >= 1)
        QVERIFY(ThresholdsAreValid(t, count));
}

void TestLayerRules::layerForHit_data()
{
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("strength");
    QTest::addColumn<int>("layer");
    const QVector<int> three{85, 43, 1, 1, 1, 1, 1, 1};
    QTest::newRow("no layers") << three << 0 << 64 << 0;
    QTest::newRow("one layer plays the hardest") << three << 1 << 127 << 1;
    QTest::newRow("on the top threshold") << three << 3 << 85 << 1;
    QTest::newRow("just below it") << three << 3 << 84 << 2;
    QTest::newRow("the hardest") << three << 3 << 127 << 1;
    QTest::newRow("on the middle threshold") << three << 3 << 43 << 2;
    QTest::newRow("just below the middle") << three << 3 << 42 << 3;
    QTest::newRow("the softest") << three << 3 << 1 << 3;
    QTest::newRow("layers above the count ignored")
        << QVector<int>{100, 50, 1, 1, 1, 1, 1, 1} << 2 << 40 << 2;
}

void TestLayerRules::layerForHit()
{
    QFETCH(QVector<int>, thresholds);
    QFETCH(int, count);
    QFETCH(int, strength);
    QFETCH(int, layer);
    ThresholdTable t;
    Fill(t, thresholds);
    QCOMPARE(LayerForHit(t, count, strength), layer);
}

void TestLayerRules::hitRangeShort_data()
{
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("ranges");
    QTest::newRow("one layer") << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1} << 1
                               << QStringList{QStringLiteral("1\u2013127")};
    QTest::newRow("three") << QVector<int>{85, 43, 1, 1, 1, 1, 1, 1} << 3
                           << QStringList{QStringLiteral("85\u2013127"), QStringLiteral("43\u201384"),
                                          QStringLiteral("1\u201342")};
    QTest::newRow("ranges of one") << QVector<int>{127, 3, 2, 1, 1, 1, 1, 1} << 4
                                   << QStringList{QStringLiteral("127"), QStringLiteral("3\u2013126"),
                                                  QStringLiteral("2"), QStringLiteral("1")};
}

void TestLayerRules::hitRangeShort()
{
    QFETCH(QVector<int>, thresholds);
    QFETCH(int, count);
    QFETCH(QStringList, ranges);
    ThresholdTable t;
    Fill(t, thresholds);
    QStringList shown;
    for (int layer = 1; layer <= count; ++layer)
        shown << HitRangeShort(t, count, layer);
    QCOMPARE(shown, ranges);
}

void TestLayerRules::validThresholds_data()
{
    QTest::addColumn<QVector<int>>("thresholds");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("valid");
    QTest::newRow("default 3") << QVector<int>{85, 43, 1, 0, 0, 0, 0, 0} << 3 << true;
    QTest::newRow("single layer") << QVector<int>{1, 0, 0, 0, 0, 0, 0, 0} << 1 << true;
    QTest::newRow("last is not 1") << QVector<int>{85, 43, 2, 0, 0, 0, 0, 0} << 3 << false;
    QTest::newRow("not falling") << QVector<int>{43, 43, 1, 0, 0, 0, 0, 0} << 3 << false;
    QTest::newRow("layer 1 above 126") << QVector<int>{127, 1, 0, 0, 0, 0, 0, 0} << 2 << false;
    QTest::newRow("highest allowed") << QVector<int>{126, 125, 1, 0, 0, 0, 0, 0} << 3 << true;
    QTest::newRow("layer 2 above 125") << QVector<int>{127, 126, 1, 0, 0, 0, 0, 0} << 3 << false;
    QTest::newRow("no layers") << QVector<int>{1, 1, 1, 1, 1, 1, 1, 1} << 0 << false;
}

void TestLayerRules::validThresholds()
{
    QFETCH(QVector<int>, thresholds);
    QFETCH(int, count);
    QFETCH(bool, valid);
    ThresholdTable t;
    Fill(t, thresholds);
    QCOMPARE(ThresholdsAreValid(t, count), valid);
}

void TestLayerRules::gate_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("amplitude");
    QTest::newRow("0") << 0 << true << "Don't" << 0;
    QTest::newRow("1") << 1 << true << "-60dB" << 33;
    QTest::newRow("2") << 2 << true << "-50dB" << 103;
    QTest::newRow("3") << 3 << true << "-40dB" << 328;
    QTest::newRow("4") << 4 << true << "-30dB" << 1035;
    QTest::newRow("5") << 5 << false << "unchanged" << 7;
    QTest::newRow("-1") << -1 << false << "unchanged" << 7;
}

void TestLayerRules::gate()
{
    QFETCH(int, position);
    QFETCH(bool, known);
    QFETCH(QString, label);
    QFETCH(int, amplitude);
    QString gotLabel = QStringLiteral("unchanged");
    quint16 gotAmplitude = 7;
    QCOMPARE(GateForPosition(position, &gotLabel, &gotAmplitude), known);
    QCOMPARE(gotLabel, label);
    QCOMPARE(int(gotAmplitude), amplitude);
}

void TestLayerRules::availablePercent_data()
{
    QTest::addColumn<int>("used");
    QTest::addColumn<int>("percent");
    QTest::newRow("empty") << 0 << 100;
    QTest::newRow("1 MiB") << 1048576 << 67;
    QTest::newRow("one byte below the divisor") << 3141631 << 1;
    QTest::newRow("divisor") << 3141632 << 0;
    QTest::newRow("budget") << 3145728 << 0;
}

void TestLayerRules::availablePercent()
{
    QFETCH(int, used);
    QFETCH(int, percent);
    QCOMPARE(AvailablePercentFor(used), percent);
}

void TestLayerRules::lastPathPart_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("part");
    QTest::newRow("folders") << "/home/drums/kick.wav" << "kick.wav";
    QTest::newRow("relative") << "temp/snare.aif" << "snare.aif";
    QTest::newRow("bare name") << "kit.zks" << "kit.zks";
    QTest::newRow("backslashes only") << "C:\\kits\\kit.zks" << "C:\\kits\\kit.zks";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("trailing slash") << "/home/drums/" << "";
}

void TestLayerRules::lastPathPart()
{
    QFETCH(QString, path);
    QFETCH(QString, part);
    QCOMPARE(LastPathPart(path), part);
}

void TestLayerRules::controlCharacters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("control");
    QTest::newRow("plain") << "kick soft.wav" << false;
    QTest::newRow("accents and CJK") << QString::fromUtf8("caj\u00f3n \u592a\u9f13.wav") << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("line feed") << "line\nfeed.wav" << true;
    QTest::newRow("carriage return") << "a\rb.wav" << true;
    QTest::newRow("tab") << "a\tb.wav" << true;
    QTest::newRow("NUL") << QString(QChar(0)) + "x.wav" << true;
    QTest::newRow("U+001F") << QString(QChar(0x1F)) << true;
    QTest::newRow("DEL") << QString(QChar(0x7F)) << true;
    QTest::newRow("space and tilde") << " ~.wav" << false;
    QTest::newRow("U+0080 is not ours to refuse") << QString(QChar(0x80)) << false;
}

void TestLayerRules::controlCharacters()
{
    QFETCH(QString, name);
    QFETCH(bool, control);
    QCOMPARE(NameHasControlCharacter(name), control);
}

void TestLayerRules::storableSizes_data()
{
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<bool>("storable");
    QTest::addColumn<int>("verdict");
    const int largest = 0x1FFE00;
    const int big = 0x200000;
    const int tooBig = RESULT_TOO_BIG;
    QTest::newRow("empty") << QVector<int>{} << true << 0;
    QTest::newRow("big layer, four layers") << QVector<int>{big, 512, 512, 512} << true << 0;
    QTest::newRow("largest layer 5 of five")
        << QVector<int>{512, 512, 512, 512, largest} << true << 0;
    QTest::newRow("one block more in layer 5")
        << QVector<int>{512, 512, 512, 512, big} << false << tooBig;
    QTest::newRow("largest layer 1 of five")
        << QVector<int>{largest, 512, 512, 512, 512} << true << 0;
    QTest::newRow("one block more in layer 1")
        << QVector<int>{big, 512, 512, 512, 512} << false << tooBig;
    QTest::newRow("big layer 8 of eight")
        << QVector<int>{512, 512, 512, 512, 512, 512, 512, big + 512} << false << tooBig;
    QTest::newRow("the whole budget") << QVector<int>{kBankBudget - 1024, 1024} << true << 0;
    QTest::newRow("one block over the budget")
        << QVector<int>{kBankBudget - 1024, 1536} << true << int(RESULT_NO_SPACE);
    QTest::newRow("over the budget comes first")
        << QVector<int>{big, big, 512, 512, 512} << false << int(RESULT_NO_SPACE);
}

void TestLayerRules::storableSizes()
{
    QFETCH(QVector<int>, sizes);
    QFETCH(bool, storable);
    QFETCH(int, verdict);
    QVector<qint32> table(sizes.begin(), sizes.end());
    QCOMPARE(LayerSizesAreStorable(table.constData(), table.size()), storable);
    QCOMPARE(LayerSizesVerdict(table.constData(), table.size()), verdict);
}

void TestLayerRules::soundFileSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sound");
    QTest::newRow("wav") << "kick.wav" << true;
    QTest::newRow("upper case") << "KICK.WAV" << true;
    QTest::newRow("mixed case FLAC") << "snare.FlAc" << true;
    QTest::newRow("rf64, the last listed") << "long.rf64" << true;
    QTest::newRow("two dots") << "kit.v2.aiff" << true;
    QTest::newRow("text") << "notes.txt" << false;
    QTest::newRow("suffix only as part of the name") << "wav" << false;
    QTest::newRow("suffix followed by more") << "kick.wav.bak" << false;
    QTest::newRow("a bank") << "kit.zks" << false;
    QTest::newRow("hidden file of a sound suffix") << ".wav" << true;
}

void TestLayerRules::soundFileSuffix()
{
    QFETCH(QString, name);
    QFETCH(bool, sound);
    QCOMPARE(HasSoundFileSuffix(name), sound);
}

void TestLayerRules::naturalOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order"); // -1: a first, 0: the same, 1: b first

    QTest::newRow("numbers by value") << "hit2" << "hit10" << -1;
    QTest::newRow("numbers by value, larger first") << "hit10" << "hit9" << 1;
    QTest::newRow("many digits") << "a99999999999999999999" << "a100000000000000000000" << -1;
    QTest::newRow("case does not order") << "Hit2" << "hit10" << -1;
    QTest::newRow("case breaks a tie, upper first") << "Hit1" << "hit1" << -1;
    QTest::newRow("leading zeros tie, then the plain text") << "hit01" << "hit1" << -1;
    QTest::newRow("leading zeros by value") << "hit002" << "hit10" << -1;
    QTest::newRow("a name before its longer namesakes") << "hit" << "hit1" << -1;
    QTest::newRow("number before text") << "1kick" << "kick" << -1;
    QTest::newRow("several numbers") << "v1 hit2" << "v1 hit10" << -1;
    QTest::newRow("the first difference counts") << "v2 hit1" << "v10 hit0" << -1;
    QTest::newRow("text after equal numbers") << "hit1b" << "hit1a" << 1;
    QTest::newRow("non-ASCII letters, any case") << "élan2" << "ÉLAN10" << -1;
    QTest::newRow("the same") << "kick.wav" << "kick.wav" << 0;
    QTest::newRow("empty") << "" << "a" << -1;
}

void TestLayerRules::naturalOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(NaturalCompare(a, b), order);
    QCOMPARE(NaturalCompare(b, a), -order);
}

// A total order: sorting any arrangement gives one result.
void TestLayerRules::naturalSort()
{
    const QStringList sorted{"hit1.wav",  "HIT2.wav",  "hit2.wav",  "hit02b.wav", "hit10.wav",
                             "hit100.wav", "Hit 1.wav", "hit 2.wav", "hit 10.wav", "snare.wav"};
    QStringList names = sorted;
    const auto before = [](const QString &a, const QString &b) { return NaturalCompare(a, b) < 0; };
    for (int round = 0; round < 20; ++round) {
        std::rotate(names.begin(), names.begin() + 3, names.end());
        std::reverse(names.begin() + round % 5, names.end());
        std::sort(names.begin(), names.end(), before);
        QCOMPARE(names, sorted);
    }
}

void TestLayerRules::cardSafeName_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Kit - Kick" << "Kit - Kick.zks";
    QTest::newRow("a quote") << "Forzee Stereo Drumkit - Kick (Tama Superstar 22\")"
                             << "Forzee Stereo Drumkit - Kick (Tama Superstar 22_).zks";
    QTest::newRow("a colon, the dots kept") << "Kit - Sample: beats_01-33.flac"
                                            << "Kit - Sample_ beats_01-33.flac.zks";
    QTest::newRow("every refused character") << "a\"*/:<>?\\|b" << "a_________b.zks";
    QTest::newRow("control characters") << QStringLiteral("a\tb\nc\x7f\x01") << "a_b_c__.zks";
    QTest::newRow("trailing dots and spaces") << "Snare. . " << "Snare.zks";
    QTest::newRow("leading ones stay") << " .Snare" << " .Snare.zks";
    QTest::newRow("nothing left") << ". ." << "_.zks";
    QTest::newRow("empty") << "" << "_.zks";
    QTest::newRow("CON") << "CON" << "CON_.zks";
    QTest::newRow("nul, lower case") << "nul" << "nul_.zks";
    QTest::newRow("Aux, trailing space") << "Aux " << "Aux_.zks";
    QTest::newRow("PRN before a dot") << "PRN.old" << "PRN_.old.zks";
    QTest::newRow("PRN, spaces before a dot") << "PRN  .old" << "PRN_  .old.zks";
    QTest::newRow("COM1") << "COM1" << "COM1_.zks";
    QTest::newRow("com9") << "com9" << "com9_.zks";
    QTest::newRow("LPT1") << "LPT1" << "LPT1_.zks";
    QTest::newRow("lpt superscript 3") << QStringLiteral("lpt\u00b3") << QStringLiteral("lpt\u00b3_.zks");
    QTest::newRow("COM10 is no device") << "COM10" << "COM10.zks";
    QTest::newRow("COM is no device") << "COM" << "COM.zks";
    QTest::newRow("CONSOLE is no device") << "CONSOLE" << "CONSOLE.zks";
    QTest::newRow("a device name inside") << "nul - x" << "nul - x.zks";
    QTest::newRow("a device name after the dot") << "x.con" << "x.con.zks";
    QTest::newRow("non-ASCII kept") << QStringLiteral("Caj\u00f3n \U0001F941") << QStringLiteral("Caj\u00f3n \U0001F941.zks");
}

void TestLayerRules::cardSafeName()
{
    QFETCH(QString, stem);
    QFETCH(QString, expected);
    QCOMPARE(CardSafeFileName(stem, QStringLiteral(".zks")), expected);
}

// Too long a name keeps its start and its end, which tell one bank from
// another, and never splits a character: it comes back whole from UTF-8.
void TestLayerRules::cardSafeLongName_data()
{
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::newRow("255 bytes exactly stay") << QString(251, QLatin1Char('a')) << QString(251, QLatin1Char('a'))
                                            << "a.zks";
    QTest::newRow("ASCII") << QString(300, QLatin1Char('k')) + " - Snare" << "kkkk" << "kkk - Snare.zks";
    QTest::newRow("two-byte characters") << QString(126, QChar(0xE9)) << QString(4, QChar(0xE9))
                                         << QString(4, QChar(0xE9)) + ".zks";
    const QString drums = QString(QStringLiteral("\U0001F941")).repeated(80);
    QTest::newRow("characters of two UTF-16 units") << drums << QStringLiteral("\U0001F941")
                                                    << QStringLiteral("\U0001F941.zks");
    QTest::newRow("a device name at its start") << "CON." + QString(300, QLatin1Char('x')) << "CON_."
                                                << "xxx.zks";
}

void TestLayerRules::cardSafeLongName()
{
    QFETCH(QString, stem);
    QFETCH(QString, start);
    QFETCH(QString, end);
    const QString name = CardSafeFileName(stem, QStringLiteral(".zks"));
    const QByteArray bytes = name.toUtf8();
    QVERIFY2(bytes.size() <= kLongestCardFileName, qPrintable(QString::number(bytes.size())));
    QVERIFY2(bytes.size() > kLongestCardFileName - 4, qPrintable(QString::number(bytes.size())));
    QCOMPARE(QString::fromUtf8(bytes), name);
    QVERIFY2(name.startsWith(start) && name.endsWith(end), qPrintable(name));
    QCOMPARE(name.contains(QChar(0x2026)), stem.toUtf8().size() + 4 > kLongestCardFileName);
}

void TestLayerRules::distinctCardSafeNames()
{
    const QString longStem = QString(300, QLatin1Char('a'));
    const QStringList names = DistinctCardSafeFileNames(
        {"Kit - Kick", "Kit - kick", "Kit - KICK", "Kit - Hat:1", "Kit - Hat?1", "Kit - kick (2)",
         QStringLiteral("Kit - \u00c9"), QStringLiteral("Kit - \u00e9"), longStem, longStem},
        QStringLiteral(".zks"));
    QCOMPARE(names.mid(0, 8), QStringList({"Kit - Kick.zks", "Kit - kick (2).zks", "Kit - KICK (3).zks",
                                           "Kit - Hat_1.zks", "Kit - Hat_1 (2).zks",
                                           "Kit - kick (2) (2).zks", QStringLiteral("Kit - \u00c9.zks"),
                                           QStringLiteral("Kit - \u00e9 (2).zks")}));
    QVERIFY(names.at(9).endsWith(" (2).zks"));
    QVERIFY(names.at(8) != names.at(9));
    for (const QString &name : names)
        QVERIFY2(name.toUtf8().size() <= kLongestCardFileName, qPrintable(name));
}

ZK_TEST(TestLayerRules)
#include "tst_layerrules.moc"
