#include "hexfile/RecentFiles.h"
#include "hexfile/RecentFileMenu.h"

#include <QtTest>

namespace {

// Mirrors the four menu items as the window would.
class FakeMenu : public RecentFileMenu {
public:
    void showRecentItem(int index) override { visible[index] = true; }
    void setRecentCaption(int index, const QString &caption) override { captions[index] = caption; }
    bool visible[4] = {false, false, false, false};
    QString captions[4];

    QStringList shownCaptions() const
    {
        QStringList out;
        for (int i = 0; i < 4; ++i)
            if (visible[i])
                out << captions[i];
        return out;
    }
};

} // namespace

class RecentListTest : public QObject {
    Q_OBJECT

private slots:
    // Each row adds the paths in order and states the four paths and the visible captions after.
    void add_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("captions");

        QTest::newRow("nothing") << QStringList() << QStringList{"", "", "", ""} << QStringList();
        QTest::newRow("first load shows one item")
            << QStringList{"/a/one.hex"} << QStringList{"/a/one.hex", "", "", ""} << QStringList{"one.hex"};
        QTest::newRow("empty path is never added")
            << QStringList{""} << QStringList{"", "", "", ""} << QStringList();
        QTest::newRow("same file on top changes nothing")
            << QStringList{"/a/one.hex", "/a/two.hex", "/a/two.hex"}
            << QStringList{"/a/two.hex", "/a/one.hex", "", ""} << QStringList{"two.hex", "one.hex"};
        QTest::newRow("fifth file pushes the oldest out")
            << QStringList{"/1.hex", "/2.hex", "/3.hex", "/4.hex", "/5.hex"}
            << QStringList{"/5.hex", "/4.hex", "/3.hex", "/2.hex"}
            << QStringList{"5.hex", "4.hex", "3.hex", "2.hex"};
        QTest::newRow("a lower entry loaded again stands twice")
            << QStringList{"/1.hex", "/2.hex", "/3.hex", "/1.hex"}
            << QStringList{"/1.hex", "/3.hex", "/2.hex", "/1.hex"}
            << QStringList{"1.hex", "3.hex", "2.hex", "1.hex"};
        QTest::newRow("same name, different folders")
            << QStringList{"/a/x.hex", "/b/x.hex"} << QStringList{"/b/x.hex", "/a/x.hex", "", ""}
            << QStringList{"x.hex", "x.hex"};
        QTest::newRow("letter case counts")
            << QStringList{"/a/X.hex", "/a/x.hex"} << QStringList{"/a/x.hex", "/a/X.hex", "", ""}
            << QStringList{"x.hex", "X.hex"};
        QTest::newRow("path without folder")
            << QStringList{"plain.hex"} << QStringList{"plain.hex", "", "", ""} << QStringList{"plain.hex"};
    }
    void add()
    {
        QFETCH(QStringList, added);
        QFETCH(QStringList, paths);
        QFETCH(QStringList, captions);

        FakeMenu menu;
        RecentFiles list(&menu);
        for (const QString &p : added)
            list.add(p);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(list.pathAt(i), paths[i]);
            QCOMPARE(list.itemVisible(i), i < captions.size());
            if (i < captions.size())
                QCOMPARE(list.caption(i), captions[i]);
        }
        QCOMPARE(menu.shownCaptions(), captions);
        QVERIFY(list.lastIndex() <= 3);
    }

    // Items that were shown stay shown, and an attached menu needs no replay to stay right.
    void itemsStayVisibleWithoutMenu()
    {
        RecentFiles list;
        list.add(QStringLiteral("/a.hex"));
        list.add(QStringLiteral("/a.hex"));
        QVERIFY(list.itemVisible(0));
        QVERIFY(!list.itemVisible(1));
        QVERIFY(!list.itemVisible(4));
        QVERIFY(!list.itemVisible(-1));
        QCOMPARE(list.caption(7), QString());
    }
};

QTEST_GUILESS_MAIN(RecentListTest)
#include "tst_hexfile_recent.moc"
