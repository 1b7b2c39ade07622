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
const QString kTools = QStringLiteral("Tools");

QString recentKey(int n) { return QStringLiteral("Recent ") + QString::number(n); }
QString portKey(int n) { return QStringLiteral("COM ") + QString::number(n); }

// The store keeps the window's outer size in twips (1/1440 inch), the unit it has always
// been written in; the window works in pixels. This is the one place that converts.
double twipsPerPixel(int dpi)
{
    return 1440.0 / (dpi > 0 ? dpi : 96);
}
int pixelsFromTwips(double twips, int dpi)
{
    // Any stored number must give a pixel count an int holds; the window clamps it further.
    return qRound(qBound(1.0, twips / twipsPerPixel(dpi), 1.0e9));
}
double twipsFromPixels(int pixels, int dpi)
{
    return qRound(pixels * twipsPerPixel(dpi));
}

// A stored number outside the property's range keeps the default.
template <typename T>
void readInteger(SettingsStore &store, const QString &section, const QString &key, const char *defaultText,
                 T &field, qint64 min, qint64 max)
{
    const auto v = integerValue(store.value(section, key, QLatin1String(defaultText)), min, max);
    if (v)
        field = static_cast<T>(*v);
}

bool readBoolean(SettingsStore &store, const QString &section, const QString &key, const char *defaultText)
{
    return booleanValue(store.value(section, key, QLatin1String(defaultText)));
}
} // namespace

Settings::Settings()
{
    for (int n = 1; n <= PortCount; ++n)
        m_ports[n - 1] = defaultPortDevice(n);
}

QString Settings::defaultPortDevice(int n)
{
    return QStringLiteral("/dev/ttyS") + QString::number(n - 1);
}

QString Settings::portDevice(int n) const
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

void Settings::loadPreferences(SettingsStore &store)
{
    readInteger(store, kSettings, QStringLiteral("Seriel Port"), "2", m_serielPort,
                std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    m_terminalSpeed = store.value(kTerminal, QStringLiteral("Terminal speed"), QStringLiteral("19200"));
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
        m_ports[n - 1] = store.value(kPorts, portKey(n), defaultPortDevice(n));
    m_editor = store.value(kSettings, QStringLiteral("Editor"), QString());
    readInteger(store, kTerminal, QStringLiteral("Memory window MB"), "64", m_terminalMemoryMB, 1, 1024 * 1024);
    m_enterSends = enterSendsValue(store.value(kTools, QStringLiteral("EnterSends"), QStringLiteral("CR")));
    readInteger(store, kTools, QStringLiteral("CodeMemoryKB"), "64", m_codeMemoryKB, MinCodeMemoryKB,
                MaxCodeMemoryKB);
    m_hexView = readBoolean(store, kTools, QStringLiteral("HexView"), "False");
    m_timeStamps = readBoolean(store, kTools, QStringLiteral("TimeStamps"), "False");
    readInteger(store, kTools, QStringLiteral("StampGapMs"), "100", m_stampGapMs, 1, 3600000);
}

void Settings::restoreWorkspace(SettingsStore &store, WorkspaceHost &host)
{
    // Workspace: oldest recent file first, so Add rebuilds the list in its saved order.
    for (int n = 3; n >= 0; --n) {
        const QString path = store.value(kFileList, recentKey(n), QString());
        if (!path.isEmpty())
            host.addRecentFile(path);
    }
    if (m_reloadHex)
        host.restoreHexFile(host.recentPath(0));
    const QString height = store.value(kWindow, QStringLiteral("Height"), QStringLiteral("0"));
    if (height != QLatin1String("0"))
        host.setOuterHeight(pixelsFromTwips(numberValue(height), host.verticalDpi()));
    const QString width = store.value(kWindow, QStringLiteral("Width"), QStringLiteral("0"));
    if (width != QLatin1String("0"))
        host.setOuterWidth(pixelsFromTwips(numberValue(width), host.horizontalDpi()));
    m_tile = store.value(kWindow, QStringLiteral("Tile"), QStringLiteral("Horizontal"));
    if (m_tile == QLatin1String("Vertical"))
        host.tileVertically();
    else
        host.tileHorizontally();
}

void Settings::savePreferences(SettingsStore &store)
{
    store.setValue(kSettings, QStringLiteral("Reload Hex"), booleanText(m_reloadHex));
    store.setValue(kSettings, QStringLiteral("Seriel Port"), numberText(qint64(m_serielPort)));
    store.setValue(kSettings, QStringLiteral("Reload Hex on Focus"), booleanText(m_reloadHexOnfocus));
    store.setValue(kTerminal, QStringLiteral("Echo"), booleanText(m_echo));
    store.setValue(kTerminal, QStringLiteral("Print ASCII"), booleanText(m_printASCII));
    store.setValue(kTerminal, QStringLiteral("Use External"), booleanText(m_useExternalTerminal));
    store.setValue(kTerminal, QStringLiteral("ASCII Below"), numberText(qint64(m_asciiBelow)));
    store.setValue(kTerminal, QStringLiteral("Echo Color"), numberText(qint64(m_echoColor)));
    store.setValue(kTerminal, QStringLiteral("ASCII Color"), numberText(qint64(m_asciiColor)));
    store.setValue(kTerminal, QStringLiteral("Terminal speed"), m_terminalSpeed);

    for (int n = 1; n <= PortCount; ++n)
        store.setValue(kPorts, portKey(n), m_ports[n - 1]);
    store.setValue(kSettings, QStringLiteral("Editor"), m_editor);
    store.setValue(kTerminal, QStringLiteral("Memory window MB"), numberText(qint64(m_terminalMemoryMB)));
    store.setValue(kTools, QStringLiteral("EnterSends"), enterSendsText(m_enterSends));
    store.setValue(kTools, QStringLiteral("CodeMemoryKB"), numberText(qint64(m_codeMemoryKB)));
    store.setValue(kTools, QStringLiteral("HexView"), booleanText(m_hexView));
    store.setValue(kTools, QStringLiteral("TimeStamps"), booleanText(m_timeStamps));
    store.setValue(kTools, QStringLiteral("StampGapMs"), numberText(qint64(m_stampGapMs)));
}

QString Settings::enterSendsText(EnterSends v)
{
    switch (v) {
    case EnterSends::LF:
        return QStringLiteral("LF");
    case EnterSends::CRLF:
        return QStringLiteral("CRLF");
    case EnterSends::CR:
        break;
    }
    return QStringLiteral("CR");
}

Settings::EnterSends Settings::enterSendsValue(const QString &text)
{
    const QString t = text.trimmed().toUpper();
    if (t == QLatin1String("LF"))
        return EnterSends::LF;
    if (t == QLatin1String("CRLF"))
        return EnterSends::CRLF;
    return EnterSends::CR;
}

void Settings::saveWorkspace(SettingsStore &store, WorkspaceHost &host)
{
    // Stops at the first empty entry; stale higher keys stay in the store.
    for (int n = 0; n <= 3; ++n) {
        const QString path = host.recentPath(n);
        if (path.isEmpty())
            break;
        store.setValue(kFileList, recentKey(n), path);
    }
    const QSize size = host.outerSize();
    store.setValue(kWindow, QStringLiteral("Height"), numberText(twipsFromPixels(size.height(), host.verticalDpi())));
    store.setValue(kWindow, QStringLiteral("Width"), numberText(twipsFromPixels(size.width(), host.horizontalDpi())));
    store.setValue(kWindow, QStringLiteral("Tile"), m_tile);
}
