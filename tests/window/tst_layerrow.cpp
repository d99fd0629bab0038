#include <QtTest>

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "layerrow.h"
#include "testmain.h"

namespace {

const QString kFormTip = QStringLiteral("Threshold Value of this Layer");

// A row's widgets in a grid of their own, as the window's form lays them
// out: threshold, name, add/remove, play.
struct RowHost {
    explicit RowHost(int layer)
    {
        auto *grid = new QGridLayout(&widget);
        name = new QLabel(QStringLiteral("Add a Layer"), &widget);
        name->setObjectName(QStringLiteral("Filename_%1").arg(layer));
        threshold = new QPushButton(QStringLiteral("1"), &widget);
        threshold->setToolTip(kFormTip);
        addRemove = new QPushButton(QStringLiteral("+"), &widget);
        play = new QPushButton(&widget);
        grid->addWidget(threshold, 0, 1);
        grid->addWidget(name, 0, 2);
        grid->addWidget(addRemove, 0, 3);
        grid->addWidget(play, 0, 4);
        row = new LayerRow(layer, {name, threshold, addRemove, play}, grid, &widget);
        range = widget.findChild<QLabel *>(QStringLiteral("HitRange_%1").arg(layer));
    }

    QWidget widget;
    QLabel *name;
    QPushButton *threshold;
    QPushButton *addRemove;
    QPushButton *play;
    QLabel *range = nullptr;
    LayerRow *row;
};

} // namespace

// One layer row on its own: its states in a bank of any count, its name
// shortened with the whole in its tool tip, its lit range of hits, the row
// a drop marks, and its buttons' signals.
class TestLayerRow : public QObject
{
    Q_OBJECT

private slots:
    void slotStates_data();
    void slotStates();
    void nameShortenedToItsRoom_data();
    void nameShortenedToItsRoom();
    void hitRange();
    void dropHighlightAndPlace();
    void thresholdSignalsItsLayer();
};

void TestLayerRow::slotStates_data()
{
    QTest::addColumn<int>("layer");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("filled");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("removable");
    QTest::addColumn<QString>("emptyText");

    QTest::newRow("first row, empty bank") << 1 << 0 << false << true << true << "Create a Layer";
    QTest::newRow("row to add to") << 3 << 2 << false << true << true << "Add a Layer";
    QTest::newRow("below the row to add to") << 4 << 2 << false << false << true << "Add a Layer";
    QTest::newRow("last layer") << 3 << 3 << true << true << true << QString();
    QTest::newRow("layer before the last") << 2 << 3 << true << true << false << QString();
    QTest::newRow("eighth of eight") << 8 << 8 << true << true << true << QString();
}

void TestLayerRow::slotStates()
{
    QFETCH(int, layer);
    QFETCH(int, count);
    QFETCH(bool, filled);
    QFETCH(bool, shown);
    QFETCH(bool, removable);
    QFETCH(QString, emptyText);

    RowHost host(layer);
    QCOMPARE(host.row->Layer(), layer);
    // A row once filled shows its name; the empty state puts the prompt back.
    host.row->ShowSlot(layer);
    host.row->ShowName(QStringLiteral("kick.wav"), -1, {QStringLiteral("Attack -6.0 dBFS")});
    host.row->ShowSlot(count);

    QCOMPARE(host.name->text(), filled ? QStringLiteral("kick.wav") : emptyText);
    QCOMPARE(host.name->toolTip(), filled ? QStringLiteral("Attack -6.0 dBFS") : QString());
    QCOMPARE(host.name->isHidden(), !shown);
    QCOMPARE(host.addRemove->isHidden(), !shown);
    QCOMPARE(host.addRemove->text(), filled ? QStringLiteral("X") : QStringLiteral("+"));
    QCOMPARE(host.addRemove->toolTip(), filled ? QStringLiteral("Remove layer %1").arg(layer)
                                               : QStringLiteral("Add a sound as layer %1").arg(layer));
    QCOMPARE(host.addRemove->isEnabled(), removable);
    QCOMPARE(host.play->isHidden(), !filled);
    QCOMPARE(host.threshold->isHidden(), !filled);
    // The name is plain text, never markup.
    QCOMPARE(host.name->textFormat(), Qt::PlainText);
}

void TestLayerRow::nameShortenedToItsRoom_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("room");
    QTest::addColumn<bool>("shortened");

    const QString longName = QStringLiteral("Snare center hit, velocity 127, close mic, take 14 of 20.wav");
    QTest::newRow("no limit") << longName << -1 << false;
    QTest::newRow("long name, little room") << longName << 120 << true;
    QTest::newRow("short name, room enough") << QStringLiteral("kick.wav") << 400 << false;
}

void TestLayerRow::nameShortenedToItsRoom()
{
    QFETCH(QString, name);
    QFETCH(int, room);
    QFETCH(bool, shortened);

    RowHost host(2);
    host.row->ShowSlot(2);
    const QStringList notes{QStringLiteral("Imported from kit.sfz"), QStringLiteral("Peak -1.0 dBFS")};
    host.row->ShowName(name, room, notes);

    const QString shown = host.name->text();
    QCOMPARE(shown != name, shortened);
    QCOMPARE(host.row->NameWidth(name, room), host.name->fontMetrics().horizontalAdvance(shown));
    if (shortened) {
        QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
        QVERIFY(host.name->fontMetrics().horizontalAdvance(shown) <= room);
        // The start and the end of the name stay: it is shortened in its middle.
        QCOMPARE(shown.left(3), name.left(3));
        QCOMPARE(shown.right(3), name.right(3));
    }
    // The whole name heads the tool tip only where the row shortens it.
    QCOMPARE(host.name->toolTip(), ((shortened ? QStringList{name} : QStringList()) + notes).join(QLatin1Char('\n')));

    // The cell keeps to the least width given, and grows for its text.
    host.row->FitNameWidth(1000);
    QCOMPARE(host.name->minimumWidth(), 1000);
    host.row->FitNameWidth(0);
    QVERIFY(host.name->minimumWidth() >= host.name->fontMetrics().horizontalAdvance(shown));
    QCOMPARE(host.name->minimumWidth(), LabelWidthFor(host.name, shown));
}

void TestLayerRow::hitRange()
{
    RowHost host(2);
    QVERIFY(host.range);
    QVERIFY(host.range->isHidden());
    // The range sits in the name's cell, whose text starts after it.
    QCOMPARE(host.name->contentsMargins().left(), host.range->width());

    const QString range = QStringLiteral("64") + QChar(0x2013) + QStringLiteral("127");
    const QString hits = QStringLiteral("Layer 2 plays the hits of strength 64 to 127");
    host.row->ShowHitRange(range, hits);
    QCOMPARE(host.range->text(), range);
    QVERIFY(!host.range->isHidden());
    QCOMPARE(host.range->toolTip(), QStringLiteral("The hits this layer plays"));
    QCOMPARE(host.threshold->toolTip(), hits);

    host.row->LightHitRange(true);
    QVERIFY(host.range->autoFillBackground());
    QCOMPARE(host.range->backgroundRole(), QPalette::Highlight);
    QCOMPARE(host.range->foregroundRole(), QPalette::HighlightedText);
    host.row->LightHitRange(false);
    QVERIFY(!host.range->autoFillBackground());
    QCOMPARE(host.range->backgroundRole(), QPalette::Window);
    QCOMPARE(host.range->foregroundRole(), QPalette::WindowText);

    // A lone layer shows its range, its button the form's tip.
    host.row->ShowHitRange(QStringLiteral("1") + QChar(0x2013) + QStringLiteral("127"), QString());
    QVERIFY(!host.range->isHidden());
    QCOMPARE(host.threshold->toolTip(), kFormTip);
    // An empty row shows none.
    host.row->ShowHitRange(QString(), QString());
    QVERIFY(host.range->isHidden());
    QVERIFY(host.range->toolTip().isEmpty());
}

void TestLayerRow::dropHighlightAndPlace()
{
    RowHost host(1);
    host.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host.widget));

    const QPoint inName = host.name->mapTo(&host.widget, host.name->rect().center());
    const QPoint onButton = host.addRemove->mapTo(&host.widget, host.addRemove->rect().center());
    QVERIFY(host.row->NameAt(&host.widget, inName));
    QVERIFY(!host.row->NameAt(&host.widget, onButton));

    host.row->HighlightDrop(true);
    QVERIFY(host.name->autoFillBackground());
    QCOMPARE(host.name->backgroundRole(), QPalette::Highlight);
    host.row->HighlightDrop(false);
    QVERIFY(!host.name->autoFillBackground());
    QCOMPARE(host.name->backgroundRole(), QPalette::Window);

    // A row hidden below the one to add to takes no drop.
    host.row->ShowSlot(-1);
    QVERIFY(!host.row->NameAt(&host.widget, inName));
}

void TestLayerRow::thresholdSignalsItsLayer()
{
    RowHost host(5);
    QSignalSpy threshold(host.row, &LayerRow::thresholdClicked);
    host.threshold->click();
    host.addRemove->click();
    host.play->click();
    QCOMPARE(threshold.size(), 1);
    QCOMPARE(threshold.first().first().toInt(), 5);
}

ZK_TEST(TestLayerRow)
#include "tst_layerrow.moc"
