#pragma once
#include "app/ClsGlobalState.h"

#include <QString>
#include <memory>

class SettingsStore;

// The main window's side of the workspace entries: recent files, the most recent file,
// the window size in twips and the tiling.
class WorkspaceHost {
public:
    virtual ~WorkspaceHost() = default;
    virtual void RecentAdd(const QString &path) = 0;
    virtual QString RecentPath(int index) = 0;
    // Reads the most recent file at start-up, as the main window's ReadHexFile does.
    virtual void RestoreHexFile(const QString &path) = 0;
    virtual double HeightTwips() = 0;
    virtual double WidthTwips() = 0;
    virtual void setHeightTwips(double twips) = 0;
    virtual void setWidthTwips(double twips) = 0;
    virtual void mnuWindowTileH_Click() = 0;
    virtual void mnuwindowTileV_Click() = 0;
};

// The user's preferences, held in memory for the whole run: loaded from the store by
// Load and written back by Save, always in the same order.
class Settings {
public:
    Settings();
    ~Settings();

    // Reads every preference, then the workspace (host may be null: no workspace).
    void Load(SettingsStore &store, WorkspaceHost *host)
    {
        LoadPreferences(store);
        if (host)
            RestoreWorkspace(store, *host);
    }
    // Writes every preference, then the workspace.
    void Save(SettingsStore &store, WorkspaceHost *host)
    {
        SavePreferences(store);
        if (host)
            SaveWorkspace(store, *host);
    }
    void LoadPreferences(SettingsStore &store);
    void RestoreWorkspace(SettingsStore &store, WorkspaceHost &host);
    void SavePreferences(SettingsStore &store);
    void SaveWorkspace(SettingsStore &store, WorkspaceHost &host);

    ClsGlobalState &GlobalState();

    int SerielPort() const { return m_serielPort; }
    void setSerielPort(int v) { m_serielPort = v; }
    QString TerminalSpeed() const { return m_terminalSpeed; }
    void setTerminalSpeed(const QString &v) { m_terminalSpeed = v; }
    int ASCIIBelow() const { return m_asciiBelow; }
    void setASCIIBelow(int v) { m_asciiBelow = v; }
    qint32 EchoColor() const { return m_echoColor; }
    void setEchoColor(qint32 v) { m_echoColor = v; }
    qint32 ASCIIColor() const { return m_asciiColor; }
    void setASCIIColor(qint32 v) { m_asciiColor = v; }
    bool ReloadHex() const { return m_reloadHex; }
    void setReloadHex(bool v) { m_reloadHex = v; }
    bool ReloadHexOnfocus() const { return m_reloadHexOnfocus; }
    void setReloadHexOnfocus(bool v) { m_reloadHexOnfocus = v; }
    bool PrintASCII() const { return m_printASCII; }
    void setPrintASCII(bool v) { m_printASCII = v; }
    bool Echo() const { return m_echo; }
    void setEcho(bool v) { m_echo = v; }
    bool UseExternalTerminal() const { return m_useExternalTerminal; }
    void setUseExternalTerminal(bool v) { m_useExternalTerminal = v; }
    QString Tile() const { return m_tile; }
    void setTile(const QString &v) { m_tile = v; }

    // The device that "COM n" (n = 1..4) names on this system, from the "Ports" group.
    QString PortDevice(int n) const;
    void setPortDevice(int n, const QString &device);
    static QString DefaultPortDevice(int n);

    // Megabytes of terminal text kept in memory before the oldest moves to a cache file.
    int TerminalMemoryMB() const { return m_terminalMemoryMB; }
    void setTerminalMemoryMB(int v) { m_terminalMemoryMB = v; }

    // The user's text editor command ("Settings"/"Editor"); empty for the desktop's default.
    QString Editor() const { return m_editor; }
    void setEditor(const QString &v) { m_editor = v; }

    static constexpr int PortCount = 4;

private:
    std::unique_ptr<ClsGlobalState> m_globalState;
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
};
