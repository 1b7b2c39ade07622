#include "hexfile/ClsRecentFileList.h"
#include "hexfile/RecentFileMenu.h"

#include <QtTest>

namespace {

// Mirrors the four menu items as the window would.
class FakeMenu : public RecentFileMenu {
public:
    void showRecentItem(int Index) override { visible[Index] = true; }
    void setRecentCaption(int Index, const QString &caption) override { captions[Index] = caption; }
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
        clsRecentFileList list(&menu);
        for (const QString &p : added)
            list.Add(p);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(list.GetPath(i), paths[i]);
            QCOMPARE(list.ItemVisible(i), i < captions.size());
            if (i < captions.size())
                QCOMPARE(list.Caption(i), captions[i]);
        }
        QCOMPARE(menu.shownCaptions(), captions);
        QVERIFY(list.LastIndex() <= 3);
    }

    // Items that were shown stay shown, and an attached menu needs no replay to stay right.
    void itemsStayVisibleWithoutMenu()
    {
        clsRecentFileList list;
        list.Add(QStringLiteral("/a.hex"));
        list.Add(QStringLiteral("/a.hex"));
        QVERIFY(list.ItemVisible(0));
        QVERIFY(!list.ItemVisible(1));
        QVERIFY(!list.ItemVisible(4));
        QVERIFY(!list.ItemVisible(-1));
        QCOMPARE(list.Caption(7), QString());
    }
};

QTEST_GUILESS_MAIN(RecentListTest)
#include "tst_hexfile_recent.moc"
