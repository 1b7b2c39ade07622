#include "widgets/TerminalView.h"
#include "widgets/TerminalWindow.h"

#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <vector>

namespace {
constexpr ColorRef Red = 0x0000FF;
constexpr ColorRef Blue = 0xFF0000;

// What colour the ink in a cell has: anti-aliased edges blend with the white background,
// so only clearly coloured or clearly dark pixels count.
enum Ink { NoInk = 0, BlackInk = 1, RedInk = 2, BlueInk = 4 };

int inkIn(const QImage &img, const QRect &cell)
{
    int ink = NoInk;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            const int r = c.red(), g = c.green(), b = c.blue();
            if (r - g > 80 && r - b > 80)
                ink |= RedInk;
            else if (b - r > 80 && b - g > 80)
                ink |= BlueInk;
            else if (r < 110 && g < 110 && b < 110 && std::abs(r - b) < 40)
                ink |= BlackInk;
        }
    }
    return ink;
}

struct Piece {
    QByteArray text;
    ColorRef color;
};
} // namespace

Q_DECLARE_METATYPE(std::vector<Piece>)

// Painting: every byte lands in its own cell of its row, in its piece's colour.
class TestTerminalViewPaint : public QObject {
    Q_OBJECT
private slots:
    void cellsShowTheirPieces_data()
    {
        QTest::addColumn<std::vector<Piece>>("pieces");
        // One string per row, one character per cell: k black, r red, b blue, '.' blank.
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("plain text") << std::vector<Piece>{{"Hello", 0}} << QStringList{"kkkkk."};
        QTest::newRow("colours change mid-line")
            << std::vector<Piece>{{"AB", 0}, {"CD", Red}, {"EF", Blue}, {"G", 0}} << QStringList{"kkrrbbk."};
        QTest::newRow("blanks and control bytes stay empty")
            << std::vector<Piece>{{"A B", 0}, {QByteArray("\x01\x07", 2), Red}, {"C", Blue}}
            << QStringList{"k.k..b."};
        QTest::newRow("high Latin-1 characters have glyphs")
            << std::vector<Piece>{{"\xE9\xFC\xA9", Red}} << QStringList{"rrr."};
        QTest::newRow("each line in its own row")
            << std::vector<Piece>{{"AB\r\n", 0}, {"C", Red}, {"D\rEF", Blue}} << QStringList{"kk.", "rb.", "bb."};
        QTest::newRow("a run broken by a block edge") << std::vector<Piece>{} << QStringList{};
    }

    void cellsShowTheirPieces()
    {
        QFETCH(std::vector<Piece>, pieces);
        QFETCH(QStringList, rows);
        TerminalWindow w;
        w.resize(500, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        TerminalStore &s = w.store();
        if (rows.isEmpty()) {
            // The last row of text straddles two store blocks, each half in another colour.
            s.append(QByteArray(TerminalStore::BlockSize - 3, 'x'), 0);
            s.append("\r\n", 0);
            s.append("AB", 0);
            s.append("CD", Red);
            rows = QStringList{"kkrr."};
        } else {
            for (const Piece &p : pieces)
                s.append(p.text, p.color);
        }
        TerminalView &v = w.view();
        v.flush();
        const QImage img = v.viewport()->grab().toImage();
        const qint64 firstRow = s.lineCount() - rows.size();
        QVERIFY(v.firstVisibleLine() <= firstRow);
        for (int r = 0; r < rows.size(); ++r) {
            const int top = int((firstRow + r - v.firstVisibleLine()) * v.lineHeight());
            for (int c = 0; c < rows[r].size(); ++c) {
                // One pixel in from each side: a glyph may touch its cell's edge.
                const int left = int(std::ceil(c * v.charWidth())) + 1;
                const int right = int(std::floor((c + 1) * v.charWidth())) - 2;
                const QRect cell(QPoint(left, top), QPoint(right, top + v.lineHeight() - 1));
                const QChar want = rows[r].at(c);
                const int expected = want == u'k' ? BlackInk : want == u'r' ? RedInk : want == u'b' ? BlueInk : NoInk;
                QVERIFY2(inkIn(img, cell) == expected,
                         qPrintable(QStringLiteral("row %1 cell %2: ink %3, expected %4")
                                        .arg(r)
                                        .arg(c)
                                        .arg(inkIn(img, cell))
                                        .arg(expected)));
            }
        }
    }

    void scrolledSidewaysStartsAtTheScrolledColumn()
    {
        TerminalWindow w;
        w.resize(300, 150);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        TerminalStore &s = w.store();
        s.append(QByteArray(100, 'x'), 0);
        s.append("ABC", Red);
        TerminalView &v = w.view();
        v.flush();
        QScrollBar *bar = v.horizontalScrollBar();
        bar->setValue(bar->maximum());
        QVERIFY(bar->value() > 0);
        const int abc = 100 - bar->value(); // the column "ABC" starts in now
        const QImage img = v.viewport()->grab().toImage();
        const int top = int((s.lineCount() - 1 - v.firstVisibleLine()) * v.lineHeight());
        for (int c = abc - 2; c < abc + 4; ++c) {
            const QRect cell(QPoint(int(std::ceil(c * v.charWidth())) + 1, top),
                             QPoint(int(std::floor((c + 1) * v.charWidth())) - 2, top + v.lineHeight() - 1));
            const int expected = c < abc ? int(BlackInk) : c < abc + 3 ? int(RedInk) : int(NoInk);
            QCOMPARE(inkIn(img, cell), expected);
        }
    }
};

QTEST_MAIN(TestTerminalViewPaint)
#include "tst_viewpaint.moc"
