#include "support/ScriptedPrompter.h"
#include "widgets/PrintDialog.h"
#include "widgets/WindowPrinter.h"
#include "terminal/TerminalStore.h"
#include "widgets/WindowCommands.h"

#include <QApplication>
#include <algorithm>
#include <QCheckBox>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QDateTime PrintTime(QDate(2024, 3, 7), QTime(14, 5));
const QString DateText = QStringLiteral("Printed 03-07-24 14:05");
constexpr qreal MarginMm = 10;
constexpr qreal PtPerMm = 72 / 25.4;
// Page positions in PDF points, from the paper's left edge.
constexpr qreal LeftPt = (MarginMm + 20) * PtPerMm;
constexpr qreal RightPt = (MarginMm + 190) * PtPerMm;

struct Word {
    int page;
    qreal xMin, yMin, xMax, yMax;
    QString text;
};

QByteArray runPdftotext(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("pdftotext failed (poppler-utils must be installed): %s", p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

// The printed lines as pdftotext lays them out; pages end with a form feed.
QStringList layoutLines(const QString &pdf)
{
    QString text = QString::fromUtf8(runPdftotext({QStringLiteral("-layout"), pdf, QStringLiteral("-")}));
    text.remove(QLatin1Char('\f'));
    QStringList lines = text.split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    for (QString &l : lines)
        l = l.trimmed();
    return lines;
}

QList<Word> words(const QString &pdf)
{
    const QString html = QString::fromUtf8(runPdftotext({QStringLiteral("-bbox"), pdf, QStringLiteral("-")}));
    static const QRegularExpression re(QStringLiteral(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    QList<Word> out;
    int page = -1;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            ++page;
            continue;
        }
        out.append({page, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                    m.captured(4).toDouble(), m.captured(5)});
    }
    return out;
}

// Words on one printed line, by their common top.
QList<QList<Word>> linesOf(QList<Word> ws)
{
    // pdftotext lists a line's far right part after the lines beside it.
    std::stable_sort(ws.begin(), ws.end(), [](const Word &a, const Word &b) {
        if (a.page != b.page)
            return a.page < b.page;
        if (qAbs(a.yMin - b.yMin) > 0.5)
            return a.yMin < b.yMin;
        return a.xMin < b.xMin;
    });
    QList<QList<Word>> lines;
    for (const Word &w : ws) {
        if (lines.isEmpty() || lines.last().first().page != w.page || qAbs(lines.last().first().yMin - w.yMin) > 0.5)
            lines.append(QList<Word>{});
        lines.last().append(w);
    }
    return lines;
}

QString headerPattern(const QString &left)
{
    return QStringLiteral("^") + QRegularExpression::escape(left) + QStringLiteral("\\s+")
           + QRegularExpression::escape(DateText) + QStringLiteral("$");
}

// A PDF printer with known margins, writing into a test folder.
struct PdfSetup {
    QTemporaryDir dir;
    QPrinter printer;
    RecordingStatus status;
    WindowPrinter windows{printer, status};

    PdfSetup()
    {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageMargins(QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm), QPageLayout::Millimeter);
        printer.setOutputFileName(file(QStringLiteral("out.pdf")));
        windows.setClock([] { return PrintTime; });
    }
    QString file(const QString &name) const { return dir.filePath(name); }
};

PrintSources sourcesOf(const QString &hexPath, const QString &statusText, const TerminalStore *terminal)
{
    PrintSources s;
    s.hexPath = hexPath;
    s.statusText = [statusText] { return statusText; };
    s.terminal = [terminal] { return terminal; };
    return s;
}
} // namespace

class TestTerminalWindowPrint : public QObject {
    Q_OBJECT
private slots:
    // Header, two empty lines and the body's lines, from the status text and from the
    // terminal store alike.
    void documentText_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("one line") << QByteArray("abc\r\n") << QStringList{"abc"};
        QTest::newRow("empty line between") << QByteArray("abc\r\n\r\nd") << QStringList{"abc", "", "d"};
        QTest::newRow("empty body") << QByteArray() << QStringList{};
        QTest::newRow("lone LF") << QByteArray("a\nb") << QStringList{"a", "b"};
        QTest::newRow("lone CR") << QByteArray("a\rb") << QStringList{"a", "b"};
        QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("Latin-1") << QByteArray("caf\xe9 \xb5s") << QStringList{QStringLiteral("caf\u00e9 \u00b5s")};
    }
    void documentText()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, lines);
        for (const bool fromStore : {true, false}) {
            PdfSetup pdf;
            TerminalStore store;
            store.append(body, 0x00FF00);
            const PrintSources sources =
                sourcesOf(QStringLiteral("/home/u/prj/prog.hex"), QString::fromLatin1(body), &store);
            pdf.windows.printWindows(sources, fromStore, !fromStore);
            QCOMPARE(pdf.status.text, QString());
            const QStringList printed = layoutLines(pdf.file(QStringLiteral("out.pdf")));
            QVERIFY2(!printed.isEmpty(), "nothing printed");
            const QString left = fromStore ? QStringLiteral("Terminal dump from prog.hex")
                                           : QStringLiteral("Status dump from prog.hex");
            QVERIFY2(QRegularExpression(headerPattern(left)).match(printed.at(0)).hasMatch(), qPrintable(printed.at(0)));
            // Empty lines at the very end leave no trace in the text.
            const QStringList printedBody = lines.isEmpty() ? QStringList() : QStringList{QString(), QString()} + lines;
            QCOMPARE(printed.mid(1), printedBody);
        }
    }

    // The header's left part starts at 2 cm, its date ends at 19 cm, and the body starts
    // three lines below it.
    void headerPlacement()
    {
        PdfSetup pdf;
        pdf.windows.printWindows(sourcesOf(QString(), QStringLiteral("one\r\ntwo"), nullptr), false, true);
        const auto lines = linesOf(words(pdf.file(QStringLiteral("out.pdf"))));
        QCOMPARE(lines.size(), 3);
        const auto &header = lines.at(0);
        QCOMPARE(header.first().text, QStringLiteral("Status"));
        QVERIFY2(qAbs(header.first().xMin - LeftPt) < 1.5, qPrintable(QString::number(header.first().xMin)));
        QCOMPARE(header.last().text, QStringLiteral("14:05"));
        QVERIFY2(header.last().xMax <= RightPt + 0.1 && header.last().xMax > RightPt - 1.5,
                 qPrintable(QString::number(header.last().xMax)));
        const qreal lineStep = lines.at(2).first().yMin - lines.at(1).first().yMin;
        QVERIFY(lineStep > 8);
        QVERIFY(qAbs((lines.at(1).first().yMin - header.first().yMin) - 3 * lineStep) < 0.5);
        QVERIFY(qAbs(lines.at(1).first().xMin - LeftPt) < 1.5);
        // With no HEX file loaded the name part is empty.
        QCOMPARE(header.size(), 6); // Status dump from Printed date time
        QCOMPARE(header.at(2).text, QStringLiteral("from"));
    }

    // A line wider than 17 cm continues on the next printed line, even inside a word,
    // and no printed text passes 19 cm.
    void wrapping()
    {
        QString body;
        for (int i = 0; i < 400; ++i)
            body += QLatin1String(i % 7 ? "x" : "W");
        PdfSetup pdf;
        TerminalStore store;
        store.append(body.toLatin1(), 0);
        pdf.windows.printWindows(sourcesOf(QString(), QString(), &store), true, false);
        const auto lines = linesOf(words(pdf.file(QStringLiteral("out.pdf"))));
        QVERIFY(lines.size() >= 4);
        QString joined;
        for (int i = 1; i < lines.size(); ++i) {
            QCOMPARE(lines.at(i).size(), 1);
            const Word &w = lines.at(i).first();
            joined += w.text;
            QVERIFY2(w.xMax <= RightPt + 0.1, qPrintable(QString::number(w.xMax)));
            // Broken only where the next character would not fit (W is under 10 pt wide).
            if (i + 1 < lines.size())
                QVERIFY2(w.xMax > RightPt - 10, qPrintable(QString::number(w.xMax)));
        }
        QCOMPARE(joined, body);
    }

    // A full page goes on to a new one; the header is printed once.
    void pages()
    {
        QString body;
        for (int i = 1; i <= 150; ++i)
            body += QStringLiteral("line %1\r\n").arg(i);
        PdfSetup pdf;
        pdf.windows.printWindows(sourcesOf(QString(), body, nullptr), false, true);
        const QList<Word> ws = words(pdf.file(QStringLiteral("out.pdf")));
        const auto lines = linesOf(ws);
        QVERIFY(ws.last().page >= 1);
        QCOMPARE(lines.size(), 1 + 150);
        const qreal bottom = QPageSize(QPageSize::A4).size(QPageSize::Point).height() - MarginMm * PtPerMm;
        for (int i = 1; i < lines.size(); ++i) {
            QCOMPARE(lines.at(i).last().text, QString::number(i));
            QVERIFY(lines.at(i).first().yMax <= bottom);
        }
        // The second page begins at the top of the printable area with body text.
        for (int i = 2; i < lines.size(); ++i) {
            if (lines.at(i).first().page != lines.at(i - 1).first().page) {
                QVERIFY(lines.at(i).first().yMin < lines.at(0).first().yMin + 1);
                break;
            }
        }
        QCOMPARE(std::count_if(ws.begin(), ws.end(), [](const Word &w) { return w.text == QLatin1String("dump"); }),
                 1);
    }

    // Both boxes: two documents, terminal first. Printed to a file, the second goes to
    // its own file instead of replacing the first, and the printer keeps the chosen name.
    void bothDocuments()
    {
        PdfSetup pdf;
        TerminalStore store;
        store.append("from the board", 0);
        PrintDialog dialog(pdf.windows,
                        sourcesOf(QStringLiteral("/x/demo.hex"), QStringLiteral("Reading Hex fileOk\r\n"), &store));
        dialog.statusBox()->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const QString first = pdf.file(QStringLiteral("out.pdf"));
        const QString second = pdf.file(QStringLiteral("out-status.pdf"));
        const QStringList terminal = layoutLines(first);
        const QStringList status = layoutLines(second);
        QVERIFY(QRegularExpression(headerPattern(QStringLiteral("Terminal dump from demo.hex"))).match(terminal.value(0)).hasMatch());
        QCOMPARE(terminal.mid(1), (QStringList{QString(), QString(), QStringLiteral("from the board")}));
        QVERIFY(QRegularExpression(headerPattern(QStringLiteral("Status dump from demo.hex"))).match(status.value(0)).hasMatch());
        QCOMPARE(status.mid(1), (QStringList{QString(), QString(), QStringLiteral("Reading Hex fileOk")}));
        QCOMPARE(pdf.printer.outputFileName(), first);
        QCOMPARE(pdf.status.lines().first(), QStringLiteral("INFORMATION: Status window printed to ") + second);
        for (const QString &f : {first, second}) {
            const auto header = linesOf(words(f)).first();
            QVERIFY(header.last().xMax <= RightPt + 0.1 && header.last().xMax > RightPt - 1.5);
        }
    }

    // A printer that fails is reported for each document; nothing ends the program.
    void printerFailure()
    {
        PdfSetup pdf;
        const QString bad = pdf.file(QStringLiteral("no/such/folder/out.pdf"));
        pdf.printer.setOutputFileName(bad);
        QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
        QTest::ignoreMessage(QtWarningMsg, "QPainter::begin(): Returned false");
        PrintSources sources = sourcesOf(QString(), QString(), nullptr);
        pdf.status.text = QStringLiteral("Downloading hexfile..");
        sources.statusText = [&pdf] { return pdf.status.text; };
        pdf.windows.printWindows(sources, true, true);
        const QStringList lines = pdf.status.lines();
        QCOMPARE(lines.value(0), QStringLiteral("Downloading hexfile..")); // ended before the error
        QCOMPARE(lines.value(1), QStringLiteral("ERROR: Cannot print the Terminal window: cannot write ") + bad);
        QVERIFY(lines.value(2).startsWith(QStringLiteral("ERROR: Cannot print the Status window: cannot write ")));
        QCOMPARE(pdf.printer.outputFileName(), bad);
        QVERIFY(!QFileInfo::exists(bad));
    }

    // Opens with the terminal chosen and the status not, every time; Cancel prints
    // nothing, OK with nothing chosen prints nothing, Setup reaches the caller's printer.
    void dialog()
    {
        PdfSetup pdf;
        ScriptedPrompter prompts;
        WindowCommands commands(prompts, pdf.status, pdf.printer);
        commands.setClock([] { return PrintTime; });
        QList<QPrinter *> setups;
        commands.setPrinterSetup([&setups](QPrinter &p, QWidget *) {
            setups << &p;
            p.setPageOrientation(QPageLayout::Landscape);
            return true;
        });
        QStringList seen;
        commands.setDialogRunner([&seen](PrintDialog &d) {
            seen << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                        .arg(d.windowTitle(), d.terminalBox()->text(), d.statusBox()->text(), d.okButton()->text(),
                             d.cancelButton()->text(), d.setupButton()->text())
                        .arg(d.terminalBox()->isChecked())
                        .arg(d.statusBox()->isChecked());
            QVERIFY(d.isModal());
            d.terminalBox()->setChecked(false);
            d.statusBox()->setChecked(true);
            d.cancelButton()->click();
        });
        const PrintSources sources = sourcesOf(QString(), QStringLiteral("x"), nullptr);
        commands.print(sources, nullptr);
        commands.print(sources, nullptr);
        const QString expected = QStringLiteral("Print|Print &Terminal window|Print St&atus window|OK|Cancel|&Setup...|1|0");
        QCOMPARE(seen, (QStringList{expected, expected}));
        QVERIFY(!QFileInfo::exists(pdf.printer.outputFileName()));

        commands.setDialogRunner([](PrintDialog &d) {
            d.setupButton()->click();
            d.terminalBox()->setChecked(false);
            d.okButton()->click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        });
        commands.print(sources, nullptr);
        QVERIFY(!QFileInfo::exists(pdf.printer.outputFileName()));
        commands.printSetup(nullptr);
        QCOMPARE(setups, (QList<QPrinter *>{&pdf.printer, &pdf.printer}));
        QCOMPARE(pdf.status.text, QString());
    }

    // The real modal path: the menu command waits in exec() until OK is pressed, and the
    // documents hold what the windows hold at that moment.
    void modalPrint()
    {
        PdfSetup pdf;
        ScriptedPrompter prompts;
        WindowCommands commands(prompts, pdf.status, pdf.printer);
        commands.setClock([] { return PrintTime; });
        auto store = std::make_unique<TerminalStore>();
        store->append("before", 0);
        PrintSources sources = sourcesOf(QStringLiteral("p.hex"), QString(), nullptr);
        TerminalStore *current = store.get();
        sources.terminal = [&current] { return current; };
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<PrintDialog *>(QApplication::activeModalWidget());
            if (!d)
                return;
            answered = true;
            current->append("\r\nafter", 0);
            d->okButton()->click();
        });
        commands.print(sources, nullptr);
        QVERIFY(answered);
        QCOMPARE(layoutLines(pdf.file(QStringLiteral("out.pdf"))).mid(3),
                 (QStringList{QStringLiteral("before"), QStringLiteral("after")}));

        // A terminal window closed meanwhile prints as a fresh, empty one.
        current = nullptr;
        QTimer::singleShot(0, [] {
            if (auto *d = qobject_cast<PrintDialog *>(QApplication::activeModalWidget()))
                d->okButton()->click();
        });
        commands.print(sources, nullptr);
        const QStringList printed = layoutLines(pdf.file(QStringLiteral("out.pdf")));
        QCOMPARE(printed.size(), 1);
        QVERIFY(QRegularExpression(headerPattern(QStringLiteral("Terminal dump from p.hex"))).match(printed.first()).hasMatch());
    }
};

QTEST_MAIN(TestTerminalWindowPrint)
#include "tst_windowprint.moc"
