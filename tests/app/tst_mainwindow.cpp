#include "app/MainWindow.h"
#include "widgets/StatusWindow.h"
#include "app/Application.h"
#include "settings/Settings.h"
#include "support/ScriptedPrompter.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_config;
    ScriptedPrompter m_prompts;

    MainWindow &start()
    {
        ResetGlobalsForTest();
        setPrompter(&m_prompts);
        settings();
        MainWindow &w = MainWindow();
        w.show();
        QCoreApplication::processEvents();
        return w;
    }
    static QStringList captions(QMenu *menu)
    {
        QStringList list;
        for (QAction *a : menu->actions())
            list << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return list;
    }
    static QMdiSubWindow *subOf(QWidget *w) { return w ? qobject_cast<QMdiSubWindow *>(w->parentWidget()) : nullptr; }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }
    void cleanupTestCase() { ResetGlobalsForTest(); }

    void startUpState()
    {
        MainWindow &w = start();
        QCOMPARE(w.windowTitle(), QStringLiteral("Corvade - No file loaded"));
        const QList<QMenu *> menus = w.menuBar()->findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
        QStringList titles;
        for (QAction *a : w.menuBar()->actions())
            titles << a->text();
        QCOMPARE(titles, QStringList({"&File", "&View", "&Kernel", "&Window", "&Help"}));
        QCOMPARE(captions(w.findChild<QMenu *>("mnuFile")),
                 QStringList({"&Load...", "&Reload", "-", "Save &Terminal window...", "Save St&atus window...",
                              "&Print...", "Printer set&up...", "-", "&Settings...", "&Initialise serielport",
                              "-", "", "", "", "", "-", "E&xit"}));
        QCOMPARE(captions(w.findChild<QMenu *>("mnuView")),
                 QStringList({"&Terminal", "&Status", "&Hex File", "-"}));
        QCOMPARE(captions(w.kernelMenu()), QStringList({"&Download HEX-file", "&Run", "Download&+Run", "-",
                                                       "&Kernel Version"}));
        QCOMPARE(captions(w.findChild<QMenu *>("mnuHelp")),
                 QStringList({"How to &Corvade", "-", "&About Corvade..."}));
        const QList<QPair<const char *, QKeySequence>> keys = {
            {"mnuFileLoad", Qt::Key_F2},          {"mnuFileReload", Qt::Key_F3},
            {"mnuFilePrint", QKeySequence("Ctrl+P")}, {"mnuFileSettings", QKeySequence("Ctrl+S")},
            {"mnuFileInitSeriel", Qt::Key_F4},    {"mnuViewHexFile", QKeySequence("Ctrl+H")},
            {"mnuKernelDownload", Qt::Key_F5},    {"mnuKernelRun", Qt::Key_F6},
            {"mnuKernelDownloadRun", Qt::Key_F7}, {"mnuKernelKrnlVersion", Qt::Key_F12}};
        for (const auto &k : keys)
            QCOMPARE(w.action(QLatin1String(k.first))->shortcut(), k.second);
        for (int i = 0; i < 4; ++i)
            QVERIFY(!w.action(QStringLiteral("mnuFileRecentfiles%1").arg(i))->isVisible());
        QVERIFY(!w.kernelMenu()->menuAction()->isEnabled());
        QVERIFY(!w.action("mnuKernelKrnlVersion")->isEnabled());
        QVERIFY(w.action("mnuViewStatus")->isChecked());
        QVERIFY(w.action("mnuViewTerminal")->isChecked());

        // Tiled horizontally: stacked, each as wide as the client area.
        QMdiSubWindow *status = subOf(w.statusWindow());
        QMdiSubWindow *terminal = subOf(w.terminalWindow());
        QVERIFY(status && terminal);
        const QRect area = w.mdiArea()->viewport()->rect();
        QCOMPARE(status->width(), area.width());
        QCOMPARE(terminal->width(), area.width());
        QVERIFY(terminal->y() >= status->y() + status->height() - 1);
    }

    void statusLogLines()
    {
        MainWindow &w = start();
        w.appendStatus(QStringLiteral("Reading Hex file"), false);
        w.appendStatus(QStringLiteral("."), false);
        w.appendStatus(QStringLiteral("Ok"), true);
        w.appendStatus(QString(), true);
        w.appendStatus(QString(), true);
        QCOMPARE(w.statusText(), QStringLiteral("Reading Hex file.Ok\r\n\r\n\r\n"));
        QCOMPARE(w.statusWindow()->textView()->toPlainText(), QStringLiteral("Reading Hex file.Ok\n\n\n"));
        QCOMPARE(w.statusWindow()->textView()->textCursor().position(),
                 w.statusWindow()->textView()->document()->characterCount() - 1);

        // Closed by the user: the check mark goes, the next line opens a fresh window
        // holding just that line, and the check mark stays off.
        subOf(w.statusWindow())->close();
        QCoreApplication::processEvents();
        QVERIFY(!w.statusWindow());
        QVERIFY(!w.action("mnuViewStatus")->isChecked());
        w.appendStatus(QStringLiteral("ERROR: Request time out"), true);
        QVERIFY(w.statusWindow());
        QCOMPARE(w.statusText(), QStringLiteral("ERROR: Request time out\r\n"));
        QVERIFY(!w.action("mnuViewStatus")->isChecked());
    }

    void viewToggles()
    {
        MainWindow &w = start();
        // "&Status" twice: closes (log gone), then opens empty.
        w.appendStatus(QStringLiteral("something"), true);
        w.action("mnuViewStatus")->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!w.statusWindow());
        QVERIFY(!w.action("mnuViewStatus")->isChecked());
        w.action("mnuViewStatus")->trigger();
        QVERIFY(w.statusWindow());
        QCOMPARE(w.statusText(), QString());
        QVERIFY(w.action("mnuViewStatus")->isChecked());

        // Terminal closed by its close box keeps its check mark; the next "&Terminal" only
        // clears the mark, the one after opens the window again.
        subOf(w.terminalWindow())->close();
        QCoreApplication::processEvents();
        QVERIFY(!w.terminalWindow());
        QVERIFY(w.action("mnuViewTerminal")->isChecked());
        w.action("mnuViewTerminal")->trigger();
        QVERIFY(!w.terminalWindow());
        QVERIFY(!w.action("mnuViewTerminal")->isChecked());
        w.action("mnuViewTerminal")->trigger();
        QVERIFY(w.terminalWindow());
        QVERIFY(w.action("mnuViewTerminal")->isChecked());
    }

    void windowMenuListsChildren()
    {
        MainWindow &w = start();
        QMenu *menu = w.findChild<QMenu *>("mnuWindow");
        QMetaObject::invokeMethod(menu, "aboutToShow");
        const QStringList items = captions(menu);
        QCOMPARE(items.mid(0, 3), QStringList({"Tile &Vertical", "Tile &Horizontaly", "-"}));
        QCOMPARE(items.size(), 5);
        QVERIFY(items[3].endsWith("Status"));
        QVERIFY(items[4].endsWith("Terminal"));
        menu->actions().at(3)->trigger();
        QCOMPARE(w.mdiArea()->activeSubWindow(), subOf(w.statusWindow()));
    }

    void closingSavesAndTilingSurvivesRestart()
    {
        MainWindow &w = start();
        w.action("mnuwindowTileV")->trigger();
        QCOMPARE(settings().tile(), QStringLiteral("Vertical"));
        w.resize(900, 640);
        QCoreApplication::processEvents();
        w.close();
        QCoreApplication::processEvents();
        QVERIFY(!AppSettingsExists());

        QSettings stored(m_config.path() + "/Corvade/Corvade.conf", QSettings::IniFormat);
        QCOMPARE(stored.value("Window/Tile").toString(), QStringLiteral("Vertical"));
        QCOMPARE(stored.value("Settings/Seriel Port").toString(), QStringLiteral(" 2"));
        QCOMPARE(stored.value("Settings/Reload Hex on Focus").toString(), QStringLiteral("True"));
        QVERIFY(stored.value("Window/Height").toString().startsWith(' '));

        MainWindow &again = start();
        QMdiSubWindow *status = subOf(again.statusWindow());
        QMdiSubWindow *terminal = subOf(again.terminalWindow());
        const QRect area = again.mdiArea()->viewport()->rect();
        QCOMPARE(status->height(), area.height());
        QCOMPARE(terminal->height(), area.height());
        QVERIFY(terminal->x() >= status->x() + status->width() - 1);
        QCOMPARE(settings().tile(), QStringLiteral("Vertical"));

        // A run that changes nothing writes the file back byte for byte.
        auto fileBytes = [this] {
            QFile f(m_config.path() + "/Corvade/Corvade.conf");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        again.close();
        QCoreApplication::processEvents();
        const QByteArray first = fileBytes();
        start().close();
        QCoreApplication::processEvents();
        QCOMPARE(fileBytes(), first);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
