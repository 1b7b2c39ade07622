#pragma once
#include <QtGlobal>

#include <functional>
#include <memory>

class Readiness;
class LinkDispatcher;
class Prompter;
class SerialPortSetup;
class Settings;
class TerminalSurface;
class TerminalCapture;
class TerminalSession;

// The commands that start the downloaded program and hand the line over to it, and the
// way typed characters reach it. The main window routes to it:
//   F6 -> run()      F7 -> downloadAndRun()
//   terminal window send hook -> sendKey(c)
class RunLink {
public:
    // HexFile's download: makes HexFile the current handler, runs its whole transfer and
    // returns true when every record went through. It leaves the handler current.
    using Download = std::function<bool()>;

    RunLink(LinkDispatcher &link, SerialPortSetup &port, Readiness &state, const Settings &settings,
            Prompter &prompter, TerminalSurface &surface, Download download = {});

    void setDownload(Download download) { m_download = std::move(download); }
    // Every terminal made from now on hands its received bytes to `capture` as well.
    void setCapture(TerminalCapture *capture) { m_capture = capture; }

    // "&Run" (F6): sends the run request, then either makes a new terminal handler current
    // or, with useExternalTerminal, closes the port once the request has left it. Does not
    // wait for the kernel.
    void run();
    // "Download&+Run" (F7): the download, and "&Run" only when it went through.
    void downloadAndRun();

    // One typed character for the board, Enter as the chosen line end. False when no
    // terminal handler is current (the key is the window's own then) or when the character
    // could not be sent; that failure is shown in a message box and the program goes on.
    bool sendKey(quint8 charCode);

    // The terminal handler when it is the current handler, else null.
    std::shared_ptr<TerminalSession> currentTerminal() const;

private:
    LinkDispatcher &m_link;
    SerialPortSetup &m_port;
    Readiness &m_state;
    const Settings &m_settings;
    Prompter &m_prompter;
    TerminalSurface &m_surface;
    Download m_download;
    TerminalCapture *m_capture = nullptr;
};
