#include "app/ClsGlobalState.h"

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
        QCOMPARE(FileNameOf(path), name);
    }

    void fourStates()
    {
        RecordingView view;
        ClsGlobalState state(&view);
        QCOMPARE(view.caption, QStringLiteral("Corvade - No File loaded"));
        QVERIFY(!view.kernelEnabled);

        state.FileReadyMode(QStringLiteral("/w/blink.hex"));
        QCOMPARE(view.caption, QStringLiteral("Corvade - blink.hex"));
        QVERIFY(!view.kernelEnabled); // port still closed
        QCOMPARE(view.recent.first(), QStringLiteral("/w/blink.hex"));

        view.calls.clear();
        state.SerielReadyMode();
        QVERIFY(view.kernelEnabled);
        QCOMPARE(view.calls, QStringList{"enable"}); // the caption is never touched by the port

        state.SerielNotReadyMode();
        QVERIFY(!view.kernelEnabled);
        QCOMPARE(view.caption, QStringLiteral("Corvade - blink.hex"));

        state.SerielReadyMode();
        state.FileNotReadyMode();
        QVERIFY(!view.kernelEnabled);
        QCOMPARE(view.caption, QStringLiteral("Corvade - No File loaded"));
        QVERIFY(state.SerielReady());
        QVERIFY(!state.FileReady());

        state.FileReadyMode(QStringLiteral("/w/"));
        QCOMPARE(view.caption, QStringLiteral("Corvade - "));
        QVERIFY(view.kernelEnabled);
    }

    void fileReadyStepOrder()
    {
        RecordingView view;
        ClsGlobalState state(&view);
        state.SerielReadyMode();
        view.calls.clear();
        state.FileReadyMode(QStringLiteral("/a.hex"));
        QCOMPARE(view.calls, QStringList({"caption", "recent", "enable"}));
        // Repeating a mode repeats its effects.
        state.FileReadyMode(QStringLiteral("/a.hex"));
        QCOMPARE(view.recent.size(), 2);
    }

    void invariantHoldsInAnySequence()
    {
        RecordingView view;
        ClsGlobalState state(&view);
        auto *rng = QRandomGenerator::global();
        for (int i = 0; i < 2000; ++i) {
            switch (rng->bounded(4)) {
            case 0: state.FileNotReadyMode(); break;
            case 1: state.FileReadyMode(QStringLiteral("/x/f%1.hex").arg(i)); break;
            case 2: state.SerielReadyMode(); break;
            default: state.SerielNotReadyMode(); break;
            }
            QCOMPARE(view.kernelEnabled, state.FileReady() && state.SerielReady());
        }
    }
};

QTEST_GUILESS_MAIN(TestReadiness)
#include "tst_readiness.moc"
