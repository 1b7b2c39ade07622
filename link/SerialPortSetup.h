#pragma once
#include "link/ByteLink.h"

#include <QObject>
#include <functional>

class Readiness;
class Prompter;
class StatusSink;

// Opens the serial line to the board with the fixed download settings, with the dialog
// that lets the user retry, abort the program or go on without the port; reopens it at
// another speed for the terminal; and notices when an open port goes away.
class SerialPortSetup : public QObject {
    Q_OBJECT
public:
    static constexpr qint32 kDownloadBaud = 19200;

    struct Hooks {
        std::function<int()> portNumber;                 // AppSettings.serialPort, read on every use
        std::function<QString(int)> deviceForPort;       // the device the settings name for "COM n"
        std::function<void()> abortNow;                  // ends the process at once, nothing saved
        std::function<bool()> stopRequested;             // the program is asked to stop: ask nothing
    };

    SerialPortSetup(ByteLink &link, StatusSink &status, Prompter &prompter, Readiness &state, Hooks hooks,
                    QObject *parent = nullptr);

    // True when the port was opened.
    bool openPort();
    // "&Initialise serielport" (F4): closes an open port and runs openPort.
    void initializeSerialPort();
    // Closes an open port and opens the same device at `baud` (the terminal's speed).
    // A failure is written to the log and leaves the port closed and not ready.
    bool reopenAt(qint32 baud);

    // The dialog texts; `device` (the path the settings give port n) follows "port n".
    static QString inUseText(int n, const QString &device = {});
    static QString invalidText(int n, const QString &device = {});

private:
    void onLinkLost(const QString &reason);

    ByteLink &m_link;
    StatusSink &m_status;
    Prompter &m_prompter;
    Readiness &m_state;
    Hooks m_hooks;
};
