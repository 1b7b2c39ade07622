#include "widgets/TerminalWindow.h"

#include "widgets/TerminalView.h"

#include <QVBoxLayout>

TerminalWindow::TerminalWindow(QWidget *parent)
    : QWidget(parent), m_renderer(m_store)
{
    setWindowTitle(QStringLiteral("Terminal"));
    m_view = new TerminalView(m_store, this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    m_view->setKeyHandler([this](quint8 c) { return keyPress(c); });
    m_view->setPasteHandler([this](const QString &text) { pasteText(text); });
    setFocusProxy(m_view);
}

TerminalWindow::~TerminalWindow() = default;

bool TerminalWindow::keyPress(quint8 charCode)
{
    if (!m_send || !m_send(charCode))
        return false;
    const EchoSetting echo = m_echoHook ? m_echoHook() : EchoSetting{m_echo, m_echoColor};
    if (echo.on)
        m_renderer.addText(QByteArrayView(reinterpret_cast<const char *>(&charCode), 1), echo.color);
    return true;
}

qsizetype TerminalWindow::pasteText(const QString &text)
{
    qsizetype sent = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t u = text.at(i).unicode();
        if (u == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        if (u == u'\n')
            u = u'\r';
        if (!keyPress(u > 0xFF ? quint8('?') : quint8(u)))
            break;
        ++sent;
    }
    return sent;
}
