#pragma once
#include "core/Readiness.h"
#include "link/FakeByteLink.h"
#include "link/LinkDispatcher.h"
#include "link/RequestTimer.h"
#include "link/RunLink.h"
#include "link/SerialPortSetup.h"
#include "settings/Settings.h"
#include "terminal/TerminalRenderer.h"
#include "terminal/TerminalStore.h"
#include "terminal/TerminalSurface.h"
#include "support/TestDoubles.h"

#include <QStringList>
#include <chrono>
#include <memory>

// The fake link that also notes when the line is flushed and closed, so a test sees whether
// the run request was on its way before the port went.
class OrderedFakeLink : public FakeByteLink {
public:
    using FakeByteLink::FakeByteLink;
    LinkResult write(const QByteArray &bytes) override
    {
        const LinkResult r = FakeByteLink::write(bytes);
        events << (r.ok() ? QStringLiteral("write ") + QString::fromLatin1(bytes.toHex()) : QStringLiteral("refused"));
        return r;
    }
    bool flush() override
    {
        events << QStringLiteral("flush");
        return FakeByteLink::flush();
    }
    void close() override
    {
        if (isOpen())
            events << QStringLiteral("close");
        FakeByteLink::close();
    }
    LinkResult open(const QString &device, qint32 rate) override
    {
        const LinkResult r = FakeByteLink::open(device, rate);
        events << (r.ok() ? QStringLiteral("open %1").arg(rate) : QStringLiteral("open failed"));
        return r;
    }
    QStringList events;
};

// A terminal window that can be closed and comes back on the next use, as the main
// window's does.
class FakeTerminalSurface : public TerminalSurface {
public:
    struct Window {
        TerminalStore store;
        TerminalRenderer renderer{store};
    };

    TerminalRenderer &renderer() override
    {
        if (!window) {
            window = std::make_unique<Window>();
            ++created;
        }
        return window->renderer;
    }
    void closeWindow() { window.reset(); }

    QByteArray text() const { return window ? window->store.text(0, window->store.size()) : QByteArray(); }
    // One letter per character: '.' colour 0, then the letters given for other colours.
    QByteArray colours(ColorRef a = 1, char aLetter = 'a', ColorRef b = 2, char bLetter = 'b') const
    {
        QByteArray out;
        for (qint64 i = 0; window && i < window->store.size(); ++i) {
            const ColorRef c = window->store.colorAt(i);
            out += c == 0 ? '.' : c == a ? aLetter : c == b ? bLetter : '?';
        }
        return out;
    }

    std::unique_ptr<Window> window;
    int created = 0;
};

// The run commands over the fake link, with the port opened at the download speed.
struct RunRig {
    OrderedFakeLink link;
    FakeRequestTimer request{std::chrono::milliseconds(5000)};
    FakeRequestTimer join{std::chrono::milliseconds(60)};
    RecordingStatus status;
    ScriptedPrompter prompter;
    Readiness state;
    Settings settings;
    FakeTerminalSurface surface;
    LinkDispatcher dispatcher{link, request, join, status};
    SerialPortSetup port{link, status, prompter, state,
                         {[] { return 2; }, [](int) { return QStringLiteral("/dev/fake2"); }, [] {}, {}}};
    RunLink run{dispatcher, port, state, settings, prompter, surface};

    RunRig()
    {
        port.openPort();
        status.clear();
        link.clearWritten();
        link.events.clear();
    }
};
