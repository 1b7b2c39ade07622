#pragma once
#include "link/ByteLink.h"
#include "link/LinkHandler.h"
#include "core/ColorRef.h"

#include <QString>
#include <optional>

class Readiness;
class LinkDispatcher;
class SerialPortSetup;
class Settings;
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
    bool m_portOpened = false;
};
