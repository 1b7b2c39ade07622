#pragma once
#include "core/ColorRef.h"
#include "terminal/TerminalRenderer.h"
#include "terminal/TerminalStore.h"

#include <QWidget>

#include <functional>

class TerminalView;

// The terminal child window: caption "Terminal", the view filling it. It owns the
// terminal's text, which goes with the window when it closes.
//
// The key path: the application sets a send hook that hands a character to the current
// terminal handler and returns true, or returns false when no terminal handler is
// current. A character taken is echoed in the echo colour when echo is on and never
// inserted by the view; one not taken is left to the view.
class TerminalWindow : public QWidget {
    Q_OBJECT
public:
    using SendHook = std::function<bool(quint8 charCode)>;

    explicit TerminalWindow(QWidget *parent = nullptr);
    ~TerminalWindow() override;

    TerminalStore &store() { return m_store; }
    TerminalRenderer &renderer() { return m_renderer; }
    TerminalView &view() { return *m_view; }

    void setSendHook(SendHook hook) { m_send = std::move(hook); }
    void setEcho(bool on, ColorRef color)
    {
        m_echo = on;
        m_echoColor = color;
    }
    // Where echo on/off and its colour come from, asked on every character taken, so a
    // change in the settings counts at once. Takes the place of setEcho while set.
    struct EchoSetting {
        bool on = false;
        ColorRef color = 0;
    };
    using EchoHook = std::function<EchoSetting()>;
    void setEchoHook(EchoHook hook) { m_echoHook = std::move(hook); }

    // One typed character (Enter is 13); true when it was sent.
    bool keyPress(quint8 charCode);
    // Sends text as if typed: each line end (CR LF, CR or LF) as 13, characters beyond
    // one byte as "?". Stops at the first character not taken; returns how many were sent.
    qsizetype pasteText(const QString &text);

private:
    TerminalStore m_store;
    TerminalRenderer m_renderer;
    TerminalView *m_view;
    SendHook m_send;
    EchoHook m_echoHook;
    bool m_echo = false;
    ColorRef m_echoColor = 0;
};
