#include "core/ColorRef.h"
#include "terminal/TerminalRenderer.h"
#include "terminal/TerminalStore.h"

#include <QTest>

namespace {
constexpr ColorRef Ascii = 0x0000C0;
constexpr ColorRef EchoCol = 0xC00000;

// One letter per character: '.' colour 0, 'a' asciiColor, 'e' echoColor, '?' other.
QByteArray colourMap(const TerminalStore &s)
{
    QByteArray out;
    for (qint64 i = 0; i < s.size(); ++i) {
        const ColorRef c = s.colorAt(i);
        out += c == 0 ? '.' : c == Ascii ? 'a' : c == EchoCol ? 'e' : '?';
    }
    return out;
}
} // namespace

class TestTerminalRender : public QObject {
    Q_OBJECT
private slots:
    void receive_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("printAscii");
        QTest::addColumn<int>("below");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("colours");
        QTest::newRow("LF as number, CR itself") << QByteArray("a\r\nb") << true << 13
                                                 << QByteArray("a\r<10>b") << QByteArray("..aaaa.");
        QTest::newRow("PrintASCII off shows every byte") << QByteArray("a\r\n\x01") << false << 13
                                                         << QByteArray("a\r\n\x01") << QByteArray("....");
        QTest::newRow("PrintASCII off ignores the limit") << QByteArray("\x05") << false << 255
                                                          << QByteArray("\x05") << QByteArray(".");
        QTest::newRow("below 0 shows nothing as a number") << QByteArray("\x00\x01z", 3) << true << 0
                                                           << QByteArray("\x00\x01z", 3) << QByteArray("...");
        QTest::newRow("below 255 spares byte 255") << QByteArray("\xfe\xff") << true << 255
                                                   << QByteArray("<254>\xff") << QByteArray("aaaaa.");
        QTest::newRow("limit above a byte still spares 255") << QByteArray("\xff") << true << 1000
                                                             << QByteArray("\xff") << QByteArray(".");
        QTest::newRow("zero byte as number") << QByteArray("\x00", 1) << true << 13
                                             << QByteArray("<0>") << QByteArray("aaa");
        QTest::newRow("every byte of a delivery, in order") << QByteArray("\x07x\x07\x07y") << true << 32
                                                            << QByteArray("<7>x<7><7>y")
                                                            << QByteArray("aaa.aaaaaa.");
        QTest::newRow("high bytes are characters") << QByteArray("\xe9\x80") << true << 13
                                                   << QByteArray("\xe9\x80") << QByteArray("..");
        QTest::newRow("specials pass unchanged") << QByteArray("\\{}<5>") << true << 13
                                                 << QByteArray("\\{}<5>") << QByteArray("......");
    }
    void receive()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, printAscii);
        QFETCH(int, below);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, colours);
        TerminalStore store;
        TerminalRenderer r(store);
        r.setSettings({printAscii, below, Ascii});
        int batches = 0;
        connect(&store, &TerminalStore::appended, this, [&batches] { ++batches; });
        r.receive(bytes);
        QCOMPARE(store.text(0, store.size()), text);
        QCOMPARE(colourMap(store), colours);
        // A delivery is announced once, however many pieces it renders to.
        QCOMPARE(batches, 1);
    }

    void everyByteRendersByItsValue()
    {
        for (int below : {0, 1, 13, 32, 128, 255}) {
            TerminalStore store;
            TerminalRenderer r(store);
            r.setSettings({true, below, Ascii});
            QByteArray all(256, Qt::Uninitialized);
            for (int i = 0; i < 256; ++i)
                all[i] = char(i);
            r.receive(all);
            QByteArray expected;
            for (int i = 0; i < 256; ++i)
                expected += i < below ? "<" + QByteArray::number(i) + ">" : QByteArray(1, char(i));
            QCOMPARE(store.text(0, store.size()), expected);
        }
    }

    void echoAndColoursInARow()
    {
        TerminalStore store;
        TerminalRenderer r(store);
        r.setSettings({true, 13, Ascii});
        r.receive("ok\n");
        r.addText(QStringLiteral("k"), EchoCol);
        r.receive("K");
        r.addText(QStringLiteral("\r"), EchoCol);
        r.addText(QStringLiteral("z"), 0);
        QCOMPARE(store.text(0, store.size()), QByteArray("ok<10>kK\rz"));
        QCOMPARE(colourMap(store), QByteArray("..aaaae.e."));

        // echoColor 0: echoed characters look exactly like received ones.
        TerminalStore plain;
        TerminalRenderer p(plain);
        p.receive("a");
        p.addText(QStringLiteral("b"), 0);
        QCOMPARE(plain.runs(0, plain.size()).size(), size_t(1));

        // Many distinct colours, each piece keeps its own.
        TerminalStore many;
        TerminalRenderer m(many);
        for (ColorRef c = 1; c <= 40; ++c)
            m.addText(QStringLiteral("x"), c * 0x010203);
        for (ColorRef c = 1; c <= 40; ++c)
            QCOMPARE(many.colorAt(c - 1), c * 0x010203);
    }

    void addStringIsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("rtf specials") << QStringLiteral("\\par }{\\b x") << QByteArray("\\par }{\\b x");
        QTest::newRow("latin-1") << QString::fromLatin1("caf\xe9 \xff") << QByteArray("caf\xe9 \xff");
        QTest::newRow("beyond latin-1") << QStringLiteral("a\u20acb") << QByteArray("a?b");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void addStringIsText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, shown);
        TerminalStore store;
        TerminalRenderer r(store);
        r.addText(QStringLiteral(">"), EchoCol);
        r.addText(text, Ascii);
        QCOMPARE(store.text(1, store.size()), shown);
        QCOMPARE(store.colorAt(0), EchoCol);
    }

    void initRtfEmpties()
    {
        TerminalStore store;
        TerminalRenderer r(store);
        r.receive("abc\r\ndef");
        r.clear();
        QCOMPARE(store.size(), 0);
        QCOMPARE(store.lineCount(), 1);
        QVERIFY(store.palette().empty());
        r.receive("x");
        QCOMPARE(store.text(0, 1), QByteArray("x"));
    }

    void colorRefToQt_data()
    {
        QTest::addColumn<quint32>("colorRef");
        QTest::addColumn<quint32>("argb");
        QTest::newRow("black") << 0x000000u << 0xFF000000u;
        QTest::newRow("red is the low byte") << 0x0000FFu << 0xFFFF0000u;
        QTest::newRow("green stays") << 0x00FF00u << 0xFF00FF00u;
        QTest::newRow("blue is the high byte") << 0xFF0000u << 0xFF0000FFu;
        QTest::newRow("mixed") << 0x123456u << 0xFF563412u;
        QTest::newRow("stray top byte ignored") << 0x7F123456u << 0xFF563412u;
    }
    void colorRefToQt()
    {
        QFETCH(quint32, colorRef);
        QFETCH(quint32, argb);
        QCOMPARE(colorRefToArgb(colorRef), argb);
    }
};

QTEST_GUILESS_MAIN(TestTerminalRender)
#include "tst_render.moc"
