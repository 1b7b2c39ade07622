#pragma once
#include <QSize>
#include <QString>

class SettingsStore;

// The main window's side of the workspace entries: recent files, the most recent file,
// the window's outer size in pixels and the tiling.
class WorkspaceHost {
public:
    virtual ~WorkspaceHost() = default;
    virtual void addRecentFile(const QString &path) = 0;
    virtual QString recentPath(int index) = 0;
    // Reads the most recent file at start-up, as the main window's readHexFile does.
    virtual void restoreHexFile(const QString &path) = 0;
    // The outer size with the frame, and the logical resolution the size is measured in.
    virtual QSize outerSize() = 0;
    virtual void setOuterWidth(int pixels) = 0;
    virtual void setOuterHeight(int pixels) = 0;
    virtual int horizontalDpi() = 0;
    virtual int verticalDpi() = 0;
    virtual void tileHorizontally() = 0;
    virtual void tileVertically() = 0;
};

// The user's preferences, held in memory for the whole run: loaded from the store by
// Load and written back by Save, always in the same order.
class Settings {
public:
    Settings();

    // Reads every preference, then the workspace (host may be null: no workspace).
    void load(SettingsStore &store, WorkspaceHost *host)
    {
        loadPreferences(store);
        if (host)
            restoreWorkspace(store, *host);
    }
    // Writes every preference, then the workspace.
    void save(SettingsStore &store, WorkspaceHost *host)
    {
        savePreferences(store);
        if (host)
            saveWorkspace(store, *host);
    }
    void loadPreferences(SettingsStore &store);
    void restoreWorkspace(SettingsStore &store, WorkspaceHost &host);
    void savePreferences(SettingsStore &store);
    void saveWorkspace(SettingsStore &store, WorkspaceHost &host);

    int serialPort() const { return m_serielPort; }
    void setSerialPort(int v) { m_serielPort = v; }
    QString terminalSpeed() const { return m_terminalSpeed; }
    void setTerminalSpeed(const QString &v) { m_terminalSpeed = v; }
    int asciiBelow() const { return m_asciiBelow; }
    void setAsciiBelow(int v) { m_asciiBelow = v; }
    qint32 echoColor() const { return m_echoColor; }
    void setEchoColor(qint32 v) { m_echoColor = v; }
    qint32 asciiColor() const { return m_asciiColor; }
    void setAsciiColor(qint32 v) { m_asciiColor = v; }
    bool reloadHex() const { return m_reloadHex; }
    void setReloadHex(bool v) { m_reloadHex = v; }
    bool reloadHexOnFocus() const { return m_reloadHexOnfocus; }
    void setReloadHexOnFocus(bool v) { m_reloadHexOnfocus = v; }
    bool printAscii() const { return m_printASCII; }
    void setPrintAscii(bool v) { m_printASCII = v; }
    bool echo() const { return m_echo; }
    void setEcho(bool v) { m_echo = v; }
    bool useExternalTerminal() const { return m_useExternalTerminal; }
    void setUseExternalTerminal(bool v) { m_useExternalTerminal = v; }
    QString tile() const { return m_tile; }
    void setTile(const QString &v) { m_tile = v; }

    // The device that "COM n" (n = 1..4) names on this system, from the "Ports" group.
    QString portDevice(int n) const;
    void setPortDevice(int n, const QString &device);
    static QString defaultPortDevice(int n);

    // Megabytes of terminal text kept in memory before the oldest moves to a cache file.
    int terminalMemoryMB() const { return m_terminalMemoryMB; }
    void setTerminalMemoryMB(int v) { m_terminalMemoryMB = v; }

    // The user's text editor command ("Settings"/"Editor"); empty for the desktop's default.
    QString editor() const { return m_editor; }
    void setEditor(const QString &v) { m_editor = v; }

    // Kilobytes of the board's code memory; the load summary warns of data beyond it.
    int codeMemoryKB() const { return m_codeMemoryKB; }
    void setCodeMemoryKB(int v) { m_codeMemoryKB = v; }
    static constexpr int MinCodeMemoryKB = 1;
    static constexpr int MaxCodeMemoryKB = 16384;
    // The terminal's view options ("Tools" group): hex view, time stamps and the pause in
    // milliseconds after which received data begins a new stamped line.
    bool hexView() const { return m_hexView; }
    void setHexView(bool v) { m_hexView = v; }
    bool timeStamps() const { return m_timeStamps; }
    void setTimeStamps(bool v) { m_timeStamps = v; }
    int stampGapMs() const { return m_stampGapMs; }
    void setStampGapMs(int v) { m_stampGapMs = v; }

    static constexpr int PortCount = 4;

    // What the Enter key (and each line end of a pasted text) sends to the running program.
    enum class EnterSends { CR, LF, CRLF };
    EnterSends enterSends() const { return m_enterSends; }
    void setEnterSends(EnterSends v) { m_enterSends = v; }
    // The stored texts "CR", "LF" and "CRLF"; anything else reads as CR.
    static QString enterSendsText(EnterSends v);
    static EnterSends enterSendsValue(const QString &text);

private:
    int m_serielPort = 2;
    QString m_terminalSpeed = QStringLiteral("19200");
    int m_asciiBelow = 13;
    qint32 m_echoColor = 0;
    qint32 m_asciiColor = 0;
    bool m_reloadHex = false;
    bool m_reloadHexOnfocus = true;
    bool m_printASCII = true;
    bool m_echo = false;
    bool m_useExternalTerminal = false;
    QString m_tile = QStringLiteral("Horizontal");
    QString m_ports[PortCount];
    QString m_editor;
    int m_terminalMemoryMB = 64;
    EnterSends m_enterSends = EnterSends::CR;
    int m_codeMemoryKB = 64;
    bool m_hexView = false;
    bool m_timeStamps = false;
    int m_stampGapMs = 100;
};
