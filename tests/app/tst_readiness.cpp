#include "core/Readiness.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
class RecordingView : public ReadinessView {
public:
    QString caption;
    bool kernelEnabled = true;
    QStringList recent;
    QStringList calls;
    void setCaption(const QString &c) override { caption = c; calls << "caption"; }
    void setKernelMenuEnabled(bool e) override { kernelEnabled = e; calls << (e ? "enable" : "disable"); }
    void addRecentFile(const QString &p) override { recent.prepend(p); calls << "recent"; }
};
} // namespace

class TestReadiness : public QObject {
    Q_OBJECT
private slots:
    void fileNameOf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("full path") << "/home/ann/work/blink.hex" << "blink.hex";
        QTest::newRow("no separator") << "blink.hex" << "blink.hex";
        QTest::newRow("ends in separator") << "/home/ann/work/" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("backslash is a name character") << "/w/a\\b.hex" << "a\\b.hex";
        QTest::newRow("root file") << "/x.hex" << "x.hex";
    }
    void fileNameOf()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(fileNameOf(path), name);
    }

    void fourStates()
    {
        RecordingView view;
        Readiness state(&view);
        QCOMPARE(view.caption, QStringLiteral("Corvade - No File loaded"));
        QVERIFY(!view.kernelEnabled);

        state.setFileReady(QStringLiteral("/w/blink.hex"));
        QCOMPARE(view.caption, QStringLiteral("Corvade - blink.hex"));
        QVERIFY(!view.kernelEnabled); // port still closed
        QCOMPARE(view.recent.first(), QStringLiteral("/w/blink.hex"));

        view.calls.clear();
        state.setSerialReady();
        QVERIFY(view.kernelEnabled);
        QCOMPARE(view.calls, QStringList{"enable"}); // the caption is never touched by the port

        state.setSerialNotReady();
        QVERIFY(!view.kernelEnabled);
        QCOMPARE(view.caption, QStringLiteral("Corvade - blink.hex"));

        state.setSerialReady();
        state.setFileNotReady();
        QVERIFY(!view.kernelEnabled);
        QCOMPARE(view.caption, QStringLiteral("Corvade - No File loaded"));
        QVERIFY(state.serialReady());
        QVERIFY(!state.fileReady());

        state.setFileReady(QStringLiteral("/w/"));
        QCOMPARE(view.caption, QStringLiteral("Corvade - "));
        QVERIFY(view.kernelEnabled);
    }

    void fileReadyStepOrder()
    {
        RecordingView view;
        Readiness state(&view);
        state.setSerialReady();
        view.calls.clear();
        state.setFileReady(QStringLiteral("/a.hex"));
        QCOMPARE(view.calls, QStringList({"caption", "recent", "enable"}));
        // Repeating a mode repeats its effects.
        state.setFileReady(QStringLiteral("/a.hex"));
        QCOMPARE(view.recent.size(), 2);
    }

    void invariantHoldsInAnySequence()
    {
        RecordingView view;
        Readiness state(&view);
        auto *rng = QRandomGenerator::global();
        for (int i = 0; i < 2000; ++i) {
            switch (rng->bounded(4)) {
            case 0: state.setFileNotReady(); break;
            case 1: state.setFileReady(QStringLiteral("/x/f%1.hex").arg(i)); break;
            case 2: state.setSerialReady(); break;
            default: state.setSerialNotReady(); break;
            }
            QCOMPARE(view.kernelEnabled, state.fileReady() && state.serialReady());
        }
    }
};

QTEST_GUILESS_MAIN(TestReadiness)
#include "tst_readiness.moc"
