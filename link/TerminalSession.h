#pragma once
#include "link/ByteLink.h"
#include "link/LinkHandler.h"
#include "core/ColorRef.h"
#include "settings/Settings.h"

#include <QString>
#include <optional>

class Readiness;
class LinkDispatcher;
class SerialPortSetup;
class TerminalCapture;
class TerminalSurface;
struct TerminalViewOptions;

// The terminal conversation with the program running on the board. Creating one hands the
// line over to that program: the port is reopened at the terminal speed and the terminal is
// emptied. Received bytes are shown as they come; typed characters go out one by one.
class TerminalSession : public LinkHandler {
public:
    // The terminal is shown through `surface`; the render settings and view options are
    // read from `settings` on every delivery, so a change in the settings dialog counts at once.
    TerminalSession(LinkDispatcher &link, SerialPortSetup &port, Readiness &state, const Settings &settings,
                TerminalSurface &surface);

    // Shows every byte of the delivery, in order.
    void receive(const QByteArray &bytes) override;
    int packetsToReceive() const override { return 1; }

    // Writes one character to the board. Nothing is shown; echo is the window's business.
    // A code that is not one byte, or a closed port, fails without writing anything.
    LinkResult send(int charcode);
    // A typed key: Enter (13) goes out as the line end the settings choose, any other code
    // as itself.
    LinkResult sendKey(quint8 charCode);
    // Bytes written as they are, as a file being sent; fails like send() on a closed port.
    LinkResult sendBytes(const QByteArray &bytes);
    // The line end Enter sends under `choice`.
    static QByteArray enterBytes(Settings::EnterSends choice);

    // Every delivery goes to `capture` before it is shown (null: none).
    void setCapture(TerminalCapture *capture) { m_capture = capture; }
    // Empties the terminal.
    void clear();
    // Adds a piece of text at the end of the terminal in its colour.
    void addText(const QString &text, ColorRef color);

    // Whether creation got the port open at the terminal speed.
    bool portOpened() const { return m_portOpened; }

    // The view options the settings hold.
    static TerminalViewOptions viewOptions(const Settings &settings);
    // The baud rate a terminalSpeed text names, if it names one.
    static std::optional<qint32> terminalBaud(const QString &terminalSpeed);
    // The box text for a failed Send: "number: description".
    static QString sendFailureText(const LinkResult &result);

private:
    LinkDispatcher &m_link;
    const Settings &m_settings;
    TerminalSurface &m_surface;
    TerminalCapture *m_capture = nullptr;
    bool m_portOpened = false;
};
