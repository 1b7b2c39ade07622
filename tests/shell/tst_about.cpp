#include "link/KernelVersion.h"
#include "shell/AboutText.h"
#include "widgets/AboutDialog.h"
#include "support/ScriptedPrompter.h"

#include <QFileInfo>
#include <QLabel>
#include <QtTest>

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void description_data()
    {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("c");
        QTest::addColumn<QString>("text");
        const QString compiled = QStringLiteral("Compiled for use with Kernel version: 1.0.0");
        const QString warning = QStringLiteral("\r\nWARNING: Versions do not match");
        QTest::newRow("not asked") << 0 << 0 << 0 << "Kernel version: Unknown\r\n" + compiled + warning;
        QTest::newRow("match") << 1 << 0 << 0 << "Kernel version: 1.0.0\r\n" + compiled;
        QTest::newRow("newer") << 2 << 1 << 0 << "Kernel version: 2.1.0\r\n" + compiled + warning;
        QTest::newRow("first part zero") << 0 << 3 << 1 << "Kernel version: Unknown\r\n" + compiled + warning;
        QTest::newRow("third part differs") << 1 << 0 << 1 << "Kernel version: 1.0.1\r\n" + compiled + warning;
    }
    void description()
    {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, c);
        QFETCH(QString, text);
        QCOMPARE(AboutText::description(KernelVersion::of(quint8(a), quint8(b), quint8(c))), text);
    }

    void versionText()
    {
        QCOMPARE(AboutText::version(QStringLiteral("1.50.0")), QStringLiteral("Version 1.50.0"));
        QCOMPARE(AboutText::version(QStringLiteral("0.1")), QStringLiteral("Version 0.1.0"));
    }

    void dialogShowsTexts()
    {
        ScriptedPrompter prompts;
        auto *about = new AboutDialog(KernelVersion::of(2, 1, 0), prompts);
        about->show();
        QCOMPARE(about->windowTitle(), QStringLiteral("About Corvade"));
        QVERIFY(about->descriptionLabel()->text().contains("Kernel version: 2.1.0\n"));
        QVERIFY(about->descriptionLabel()->text().endsWith("WARNING: Versions do not match"));
        QVERIFY(about->titleLabel()->text().contains(">Corvade<"));
        QVERIFY(AboutText::title().startsWith("Corvade\r\n"));
        about->close();
    }

    void systemInformation()
    {
        ScriptedPrompter prompts;
        AboutDialog about(KernelVersion(), prompts);
        const QStringList saved = AboutDialog::sysInfoPrograms();
        AboutDialog::sysInfoPrograms() = {QStringLiteral("corvade-no-such-program")};
        about.startSysInfo();
        QCOMPARE(prompts.messages, QStringList{"System Information Is Unavailable At This Time"});
        AboutDialog::sysInfoPrograms() = {QStringLiteral("corvade-no-such-program"), QStringLiteral("true")};
        about.startSysInfo();
        QCOMPARE(prompts.messages.size(), 1);
        AboutDialog::sysInfoPrograms() = saved;
    }

    void howToLiesBesideTheProgram()
    {
        // The build copies it next to the binaries; tests run one folder deeper.
        QVERIFY(howToPath().endsWith(QStringLiteral("kernel/how to corvade.txt")));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
