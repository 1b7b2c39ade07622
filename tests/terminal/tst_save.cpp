#include "support/FullDevice.h"
#include "terminal/RtfWriter.h"
#include "terminal/TerminalSave.h"
#include "terminal/TerminalStore.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray rtfOf(const TerminalStore &s)
{
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    const WriteResult r = writeTerminalRtf(s, buf);
    if (!r.ok)
        qFatal("RTF writer failed: %s", qPrintable(r.error));
    return buf.data();
}

// Reads the document back with unrtf, an independent reader.
QByteArray unrtf(const QByteArray &rtf, const char *mode)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("t.rtf"));
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly) || f.write(rtf) != rtf.size())
        qFatal("cannot write temporary RTF");
    f.close();
    QProcess p;
    p.start(QStringLiteral("unrtf"), {QString::fromLatin1(mode), name});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qFatal("unrtf did not run (install it with scripts/install-deps.sh): %s", qPrintable(p.errorString()));
    return p.readAllStandardOutput();
}

QByteArray unrtfText(const QByteArray &rtf)
{
    const QByteArray out = unrtf(rtf, "--text");
    const QByteArray rule = "-----------------\n";
    const qsizetype at = out.indexOf(rule);
    return at < 0 ? out : out.mid(at + rule.size());
}
} // namespace

class TestTerminalSave : public QObject {
    Q_OBJECT
private slots:
    void rtfTextReadsBack_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("plain") << QByteArray("hello") << QByteArray("hello");
        QTest::newRow("rtf specials") << QByteArray("\\par {x} \\") << QByteArray("\\par {x} \\");
        QTest::newRow("line ends") << QByteArray("a\r\nb\rc\nd\n\re") << QByteArray("a\nb\nc\nd\n\ne");
        QByteArray high;
        for (int c = 0xA0; c <= 0xFF; ++c)
            high += char(c);
        QTest::newRow("bytes above 127") << high << high;
        QByteArray ascii;
        for (int c = 0x20; c < 0x7F; ++c)
            ascii += char(c);
        QTest::newRow("printable ascii") << ascii << ascii;
        QTest::newRow("long line") << QByteArray(5000, 'w') << QByteArray(5000, 'w');
    }
    void rtfTextReadsBack()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, read);
        TerminalStore s;
        // Split into colours so runs change in the middle of the text.
        s.append(QByteArrayView(stored).first(stored.size() / 2), 0);
        s.append(QByteArrayView(stored).sliced(stored.size() / 2), 0x0000FF);
        QCOMPARE(unrtfText(rtfOf(s)).trimmed(), read.trimmed());
    }

    void rtfColoursReadBack()
    {
        TerminalStore s;
        s.append("black ", 0);
        s.append("red ", 0x0000FF);
        s.append("green ", 0x00FF00);
        s.append("blue ", 0xFF0000);
        s.append("mix", 0x563412);
        s.append(" red", 0x0000FF);
        const QByteArray rtf = rtfOf(s);
        QVERIFY(rtf.contains("\\fs17"));
        const QString html = QString::fromLatin1(unrtf(rtf, "--html"));
        static const QRegularExpression font(QStringLiteral("<font color=\"#([0-9a-f]{6})\">([^<]*)"));
        QStringList seen;
        for (auto it = font.globalMatch(html); it.hasNext();) {
            const auto m = it.next();
            if (!m.captured(2).trimmed().isEmpty())
                seen << m.captured(1) + QLatin1Char('=') + m.captured(2).trimmed();
        }
        QCOMPARE(seen, (QStringList{"000000=black", "ff0000=red", "00ff00=green", "0000ff=blue",
                                    "123456=mix", "ff0000=red"}));
    }

    void plainTextIsByteExact()
    {
        TerminalStore s;
        s.setMemoryWindow(TerminalStore::BlockSize);
        QTemporaryDir dir;
        s.setSpillFolder(dir.path());
        QByteArray all;
        for (int i = 0; i < 5 * TerminalStore::BlockSize / 256; ++i) {
            QByteArray piece(256, Qt::Uninitialized);
            for (int c = 0; c < 256; ++c)
                piece[c] = char(c);
            s.append(piece, ColorRef(i % 3));
            all += piece;
        }
        QVERIFY(s.spilledBlocks() > 0);
        const QString txt = dir.filePath(QStringLiteral("out.txt"));
        QVERIFY(saveTerminalFile(s, txt).ok);
        QFile f(txt);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), all);
        // The same store through the RTF path reads back with every printable byte.
        const QString rtfName = dir.filePath(QStringLiteral("out.rtf"));
        QVERIFY(saveTerminalFile(s, rtfName).ok);
        QFile r(rtfName);
        QVERIFY(r.open(QIODevice::ReadOnly));
        QVERIFY(r.read(6) == "{\\rtf1");
    }

    void formatByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("rtf");
        QTest::newRow("ends .rtf") << QStringLiteral("/tmp/log.rtf") << true;
        QTest::newRow(".rtf in the middle") << QStringLiteral("/tmp/log.rtf.bak") << true;
        QTest::newRow("capital .RTF") << QStringLiteral("/tmp/log.RTF") << false;
        QTest::newRow("mixed case") << QStringLiteral("/tmp/log.Rtf") << false;
        QTest::newRow(".txt") << QStringLiteral("/tmp/log.txt") << false;
        QTest::newRow("rtf without dot") << QStringLiteral("/tmp/rtf") << false;
        QTest::newRow("folder named .rtf") << QStringLiteral("/tmp/x.rtf/log") << true;
    }
    void formatByName()
    {
        QFETCH(QString, name);
        QFETCH(bool, rtf);
        QCOMPARE(isRtfFileName(name), rtf);
    }

    void failuresCarryAReason()
    {
        TerminalStore s;
        s.append(QByteArray(200000, 'x'), 0);
        QTemporaryDir dir;

        const WriteResult missing = saveTerminalFile(s, dir.filePath(QStringLiteral("no/such/folder/t.txt")));
        QVERIFY(!missing.ok);
        QVERIFY(!missing.error.isEmpty());

        for (bool rtf : {false, true}) {
            FullDevice full(1000);
            const WriteResult r = rtf ? writeTerminalRtf(s, full) : writeTerminalText(s, full);
            QVERIFY(!r.ok);
            QVERIFY2(r.error.contains(QStringLiteral("No space")), qPrintable(r.error));
        }
    }
};

QTEST_GUILESS_MAIN(TestTerminalSave)
#include "tst_save.moc"
