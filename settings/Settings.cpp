#include "settings/Settings.h"

#include "settings/SettingsStore.h"
#include "settings/SettingsText.h"

#include <limits>

using namespace SettingsText;

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString kTerminal = QStringLiteral("Terminal");
const QString kFileList = QStringLiteral("FileList");
const QString kWindow = QStringLiteral("Window");
const QString kPorts = QStringLiteral("Ports");

QString recentKey(int n) { return QStringLiteral("Recent ") + QString::number(n); }
QString portKey(int n) { return QStringLiteral("COM ") + QString::number(n); }

// A stored number outside the property's range keeps the default.
template <typename T>
void readInteger(SettingsStore &store, const QString &section, const QString &key, const char *defaultText,
                 T &field, qint64 min, qint64 max)
{
    const auto v = IntegerValue(store.GetSetting(section, key, QLatin1String(defaultText)), min, max);
    if (v)
        field = static_cast<T>(*v);
}

bool readBoolean(SettingsStore &store, const QString &section, const QString &key, const char *defaultText)
{
    return BooleanValue(store.GetSetting(section, key, QLatin1String(defaultText)));
}
} // namespace

Settings::Settings()
{
    for (int n = 1; n <= PortCount; ++n)
        m_ports[n - 1] = DefaultPortDevice(n);
}

Settings::~Settings() = default;

ClsGlobalState &Settings::GlobalState()
{
    if (!m_globalState)
        m_globalState = std::make_unique<ClsGlobalState>();
    return *m_globalState;
}

QString Settings::DefaultPortDevice(int n)
{
    return QStringLiteral("/dev/ttyS") + QString::number(n - 1);
}

QString Settings::PortDevice(int n) const
{
    if (n < 1 || n > PortCount)
        return {};
    return m_ports[n - 1];
}

void Settings::setPortDevice(int n, const QString &device)
{
    if (n >= 1 && n <= PortCount)
        m_ports[n - 1] = device;
}

void Settings::LoadPreferences(SettingsStore &store)
{
    readInteger(store, kSettings, QStringLiteral("Seriel Port"), "2", m_serielPort,
                std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    m_terminalSpeed = store.GetSetting(kTerminal, QStringLiteral("Terminal speed"), QStringLiteral("19200"));
    readInteger(store, kTerminal, QStringLiteral("ASCII Below"), "13", m_asciiBelow, 0, 255);
    readInteger(store, kTerminal, QStringLiteral("Echo Color"), "0", m_echoColor,
                std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    readInteger(store, kTerminal, QStringLiteral("ASCII Color"), "0", m_asciiColor,
                std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    m_reloadHex = readBoolean(store, kSettings, QStringLiteral("Reload Hex"), "False");
    m_reloadHexOnfocus = readBoolean(store, kSettings, QStringLiteral("Reload Hex on Focus"), "True");
    m_printASCII = readBoolean(store, kTerminal, QStringLiteral("Print ASCII"), "True");
    m_echo = readBoolean(store, kTerminal, QStringLiteral("Echo"), "False");
    m_useExternalTerminal = readBoolean(store, kTerminal, QStringLiteral("Use External"), "False");

    // Our own entries: which device each "COM n" names, and the text editor.
    for (int n = 1; n <= PortCount; ++n)
        m_ports[n - 1] = store.GetSetting(kPorts, portKey(n), DefaultPortDevice(n));
    m_editor = store.GetSetting(kSettings, QStringLiteral("Editor"), QString());
    readInteger(store, kTerminal, QStringLiteral("Memory window MB"), "64", m_terminalMemoryMB, 1, 1024 * 1024);
}

void Settings::RestoreWorkspace(SettingsStore &store, WorkspaceHost &host)
{
    // Workspace: oldest recent file first, so Add rebuilds the list in its saved order.
    for (int n = 3; n >= 0; --n) {
        const QString path = store.GetSetting(kFileList, recentKey(n), QString());
        if (!path.isEmpty())
            host.RecentAdd(path);
    }
    if (m_reloadHex)
        host.RestoreHexFile(host.RecentPath(0));
    const QString height = store.GetSetting(kWindow, QStringLiteral("Height"), QStringLiteral("0"));
    if (height != QLatin1String("0"))
        host.setHeightTwips(NumberValue(height));
    const QString width = store.GetSetting(kWindow, QStringLiteral("Width"), QStringLiteral("0"));
    if (width != QLatin1String("0"))
        host.setWidthTwips(NumberValue(width));
    m_tile = store.GetSetting(kWindow, QStringLiteral("Tile"), QStringLiteral("Horizontal"));
    if (m_tile == QLatin1String("Vertical"))
        host.mnuwindowTileV_Click();
    else
        host.mnuWindowTileH_Click();
}

void Settings::SavePreferences(SettingsStore &store)
{
    store.SaveSetting(kSettings, QStringLiteral("Reload Hex"), BooleanText(m_reloadHex));
    store.SaveSetting(kSettings, QStringLiteral("Seriel Port"), NumberText(qint64(m_serielPort)));
    store.SaveSetting(kSettings, QStringLiteral("Reload Hex on Focus"), BooleanText(m_reloadHexOnfocus));
    store.SaveSetting(kTerminal, QStringLiteral("Echo"), BooleanText(m_echo));
    store.SaveSetting(kTerminal, QStringLiteral("Print ASCII"), BooleanText(m_printASCII));
    store.SaveSetting(kTerminal, QStringLiteral("Use External"), BooleanText(m_useExternalTerminal));
    store.SaveSetting(kTerminal, QStringLiteral("ASCII Below"), NumberText(qint64(m_asciiBelow)));
    store.SaveSetting(kTerminal, QStringLiteral("Echo Color"), NumberText(qint64(m_echoColor)));
    store.SaveSetting(kTerminal, QStringLiteral("ASCII Color"), NumberText(qint64(m_asciiColor)));
    store.SaveSetting(kTerminal, QStringLiteral("Terminal speed"), m_terminalSpeed);

    for (int n = 1; n <= PortCount; ++n)
        store.SaveSetting(kPorts, portKey(n), m_ports[n - 1]);
    store.SaveSetting(kSettings, QStringLiteral("Editor"), m_editor);
    store.SaveSetting(kTerminal, QStringLiteral("Memory window MB"), NumberText(qint64(m_terminalMemoryMB)));
}

void Settings::SaveWorkspace(SettingsStore &store, WorkspaceHost &host)
{
    // Stops at the first empty entry; stale higher keys stay in the store.
    for (int n = 0; n <= 3; ++n) {
        const QString path = host.RecentPath(n);
        if (path.isEmpty())
            break;
        store.SaveSetting(kFileList, recentKey(n), path);
    }
    store.SaveSetting(kWindow, QStringLiteral("Height"), NumberText(host.HeightTwips()));
    store.SaveSetting(kWindow, QStringLiteral("Width"), NumberText(host.WidthTwips()));
    store.SaveSetting(kWindow, QStringLiteral("Tile"), m_tile);
}
