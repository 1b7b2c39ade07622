#include "terminal/PrintLineBreaker.h"
#include "terminal/TerminalStore.h"

#include <QTest>

namespace {
// Every character 1 unit wide, "W" 3 units, "#" wider than any line.
qreal width(QChar c)
{
    if (c == u'W')
        return 3;
    if (c == u'#')
        return 100;
    return 1;
}
constexpr qreal Limit = 10;
} // namespace

class TestTerminalPrint : public QObject {
    Q_OBJECT
private slots:
    void lineBreaking_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty body prints nothing") << QString() << QStringList{};
        QTest::newRow("CR LF ends the only line") << QStringLiteral("abc\r\n") << QStringList{"abc"};
        QTest::newRow("blank line between") << QStringLiteral("abc\r\n\r\nd") << QStringList{"abc", "", "d"};
        QTest::newRow("lone LF") << QStringLiteral("a\nb") << QStringList{"a", "b"};
        QTest::newRow("lone CR") << QStringLiteral("a\rb") << QStringList{"a", "b"};
        QTest::newRow("LF CR is two ends") << QStringLiteral("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("line end only") << QStringLiteral("\r\n") << QStringList{""};
        QTest::newRow("exact fit stays") << QStringLiteral("0123456789") << QStringList{"0123456789"};
        QTest::newRow("one over breaks inside a word") << QStringLiteral("0123456789x")
                                                       << QStringList{"0123456789", "x"};
        QTest::newRow("wide characters") << QStringLiteral("WWWW") << QStringList{"WWW", "W"};
        QTest::newRow("wide at exact fit") << QStringLiteral("aWWW") << QStringList{"aWWW"};
        QTest::newRow("too wide alone") << QStringLiteral("#") << QStringList{"#"};
        QTest::newRow("too wide between") << QStringLiteral("ab#cd") << QStringList{"ab", "#", "cd"};
        QTest::newRow("too wide twice") << QStringLiteral("##") << QStringList{"#", "#"};
        QTest::newRow("break then line end") << QStringLiteral("0123456789x\r\ny")
                                             << QStringList{"0123456789", "x", "y"};
        QTest::newRow("full line then CR LF") << QStringLiteral("0123456789\r\nz")
                                              << QStringList{"0123456789", "z"};
    }
    void lineBreaking()
    {
        QFETCH(QString, body);
        QFETCH(QStringList, lines);
        QCOMPARE(printLines(body, Limit, width), lines);
        // Fed one character at a time, a CR LF split between pieces is still one end.
        QStringList pieces;
        PrintLineBreaker b(Limit, width, [&pieces](const QString &l) { pieces << l; });
        for (QChar c : body)
            b.feed(QStringView(&c, 1));
        b.finish();
        QCOMPARE(pieces, lines);
    }

    void bodiesOfAnyLength()
    {
        // Far beyond what a 16-bit count would reach.
        const QString body = QString(100000, u'x') + QStringLiteral("\r\n") + QString(5, u'y');
        const QStringList lines = printLines(body, Limit, width);
        QCOMPARE(lines.size(), 10000 + 1);
        QCOMPARE(lines.first(), QString(10, u'x'));
        QCOMPARE(lines.last(), QStringLiteral("yyyyy"));
    }

    void fromTheStore()
    {
        TerminalStore s;
        s.setMemoryWindow(TerminalStore::BlockSize);
        s.append(QByteArray(TerminalStore::BlockSize - 1, 'a'), 0);
        s.append("\r", 0);
        s.append("\nline\xe9", 0xFF);
        QStringList lines;
        printStoreLines(s, 1e9, width, [&lines](const QString &l) { lines << l; });
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).size(), TerminalStore::BlockSize - 1);
        QCOMPARE(lines.at(1), QString::fromLatin1("line\xe9"));
    }
};

QTEST_GUILESS_MAIN(TestTerminalPrint)
#include "tst_print.moc"
