#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr ColorRef EchoCol = 0x00C000;

struct Board {
    QByteArray sent;
    bool current = true; // a terminal handler is current
    TerminalWindow::SendHook hook()
    {
        return [this](quint8 c) {
            if (!current)
                return false;
            sent += char(c);
            return true;
        };
    }
};

void addLines(TerminalStore &s, int n)
{
    for (int i = 0; i < n; ++i)
        s.append("line " + QByteArray::number(i) + "\r\n", 0);
}

QPoint cell(const TerminalView &v, qint64 row, qint64 col)
{
    return QPoint(int(col * v.charWidth()), int((row - v.firstVisibleLine()) * v.lineHeight() + v.lineHeight() / 2));
}
} // namespace

class TestTerminalView : public QObject {
    Q_OBJECT
private slots:
    void windowHoldsTheView()
    {
        TerminalWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Terminal"));
        w.resize(300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.view().geometry(), w.rect());
        w.resize(410, 330);
        QCoreApplication::processEvents();
        QCOMPARE(w.view().geometry(), w.rect());
    }

    void followsTheEndAndHolds()
    {
        TerminalWindow w;
        w.resize(400, 200);
        w.show();
        TerminalView &v = w.view();
        QVERIFY(v.follow());
        addLines(w.store(), 500);
        // Appends wait for the next frame instead of repainting each time.
        QCOMPARE(v.frames(), 0);
        v.flush();
        QScrollBar *bar = v.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(v.firstVisibleLine() + v.visibleLines() >= w.store().lineCount());

        // Scroll Lock holds the view still.
        QTest::keyClick(&v, Qt::Key_ScrollLock);
        QVERIFY(!v.follow());
        QVERIFY(!v.followAction()->isChecked());
        bar->setValue(10);
        addLines(w.store(), 100);
        v.flush();
        QCOMPARE(bar->value(), 10);

        // "Follow output" on again jumps to the newest text.
        v.followAction()->trigger();
        QVERIFY(v.follow());
        QCOMPARE(bar->value(), bar->maximum());

        // The frame timer applies pending text by itself.
        const int before = v.frames();
        addLines(w.store(), 3);
        QTRY_VERIFY(v.frames() > before);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void selectionToClipboard_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("expected");
        QTest::newRow("drag over a line end") << "drag" << "llo world\nsec";
        QTest::newRow("double-click a word") << "word" << "world";
        QTest::newRow("shift-click extends") << "shift" << "hello world\nsecond";
        QTest::newRow("select all") << "all" << "hello world\nsecond line\nthird";
    }
    void selectionToClipboard()
    {
        QFETCH(QString, how);
        QFETCH(QString, expected);
        TerminalWindow w;
        w.resize(400, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.store().append("hello world\r\n", 0);
        w.store().append("second line\rthird", 0x0000FF);
        TerminalView &v = w.view();
        v.setFollow(false);
        v.flush();
        v.verticalScrollBar()->setValue(0);
        QWidget *vp = v.viewport();
        if (how == QLatin1String("drag")) {
            QTest::mousePress(vp, Qt::LeftButton, {}, cell(v, 0, 2));
            QTest::mouseMove(vp, cell(v, 1, 3));
            QTest::mouseRelease(vp, Qt::LeftButton, {}, cell(v, 1, 3));
        } else if (how == QLatin1String("word")) {
            QTest::mouseDClick(vp, Qt::LeftButton, {}, cell(v, 0, 8));
        } else if (how == QLatin1String("shift")) {
            QTest::mouseClick(vp, Qt::LeftButton, {}, cell(v, 0, 0));
            QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, cell(v, 1, 6));
        } else {
            v.selectAllAction()->trigger();
        }
        QCOMPARE(v.selectedText(), expected);
        QApplication::clipboard()->clear();
        QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), expected);
        // Appending keeps the selection.
        w.store().append("more", 0);
        v.flush();
        QCOMPARE(v.selectedText(), expected);
    }

    void keyPath_data()
    {
        QTest::addColumn<bool>("current");
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("sent and echoed") << true << true << QByteArray("a\r\x03") << QByteArray("a\r\x03");
        QTest::newRow("sent without echo") << true << false << QByteArray("a\r\x03") << QByteArray();
        QTest::newRow("no terminal handler") << false << true << QByteArray() << QByteArray();
    }
    void keyPath()
    {
        QFETCH(bool, current);
        QFETCH(bool, echo);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, shown);
        TerminalWindow w;
        Board board;
        board.current = current;
        w.setSendHook(board.hook());
        w.setEcho(echo, EchoCol);
        w.show();
        TerminalView &v = w.view();
        QTest::keyClick(&v, Qt::Key_A);
        QTest::keyClick(&v, Qt::Key_Return);
        // Ctrl+C is a character for the board, not a copy.
        QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(board.sent, sent);
        QCOMPARE(w.store().text(0, w.store().size()), shown);
        for (qint64 i = 0; i < w.store().size(); ++i)
            QCOMPARE(w.store().colorAt(i), EchoCol);
    }

    void pasteReachesSend()
    {
        TerminalWindow w;
        Board board;
        w.setSendHook(board.hook());
        w.setEcho(true, EchoCol);
        w.show();
        QApplication::clipboard()->setText(QStringLiteral("ab\r\nc\nd\u20ac"));
        QTest::keyClick(&w.view(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(board.sent, QByteArray("ab\rc\rd?"));
        QCOMPARE(w.store().text(0, w.store().size()), QByteArray("ab\rc\rd?"));

        board.sent.clear();
        w.view().pasteAction()->trigger();
        QCOMPARE(board.sent, QByteArray("ab\rc\rd?"));

        // With no terminal handler nothing is sent and nothing shown.
        board.current = false;
        board.sent.clear();
        const qint64 before = w.store().size();
        QCOMPARE(w.pasteText(QStringLiteral("xyz")), 0);
        QVERIFY(board.sent.isEmpty());
        QCOMPARE(w.store().size(), before);
    }

    void clearResetsView()
    {
        TerminalWindow w;
        w.resize(300, 150);
        w.show();
        addLines(w.store(), 200);
        w.view().selectAll();
        w.renderer().clear();
        w.view().flush();
        QVERIFY(!w.view().hasSelection());
        QCOMPARE(w.view().verticalScrollBar()->maximum(), 0);
    }
};

QTEST_MAIN(TestTerminalView)
#include "tst_view.moc"
