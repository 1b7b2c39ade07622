#include "terminal/frmTerminal.h"

#include "terminal/TerminalView.h"

#include <QVBoxLayout>

frmTerminal::frmTerminal(QWidget *parent)
    : QWidget(parent), m_renderer(m_store)
{
    setWindowTitle(QStringLiteral("Terminal"));
    m_view = new TerminalView(m_store, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_view->setKeyHandler([this](quint8 c) { return KeyPress(c); });
    m_view->setPasteHandler([this](const QString &text) { PasteText(text); });
    setFocusProxy(m_view);
}

frmTerminal::~frmTerminal() = default;

bool frmTerminal::KeyPress(quint8 charCode)
{
    if (!m_send || !m_send(charCode))
        return false;
    const EchoSetting echo = m_echoHook ? m_echoHook() : EchoSetting{m_echo, m_echoColor};
    if (echo.on)
        m_renderer.AddString(QByteArrayView(reinterpret_cast<const char *>(&charCode), 1), echo.color);
    return true;
}

qsizetype frmTerminal::PasteText(const QString &text)
{
    qsizetype sent = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t u = text.at(i).unicode();
        if (u == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        if (u == u'\n')
            u = u'\r';
        if (!KeyPress(u > 0xFF ? quint8('?') : quint8(u)))
            break;
        ++sent;
    }
    return sent;
}
