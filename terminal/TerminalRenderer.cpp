#include "terminal/TerminalRenderer.h"

#include "terminal/TerminalStore.h"

#include <QByteArray>

#include <algorithm>

void renderDelivery(QByteArrayView bytes, const TerminalRenderSettings &settings,
                    const std::function<void(QByteArrayView text, ColorRef color)> &emitPiece)
{
    // Unsigned comparison against a byte-sized limit: nothing is below 0, and 255 is
    // never below any limit a byte can hold.
    const int below = settings.printAscii ? std::clamp(settings.asciiBelow, 0, 255) : 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    QByteArray numbers;
    while (i < n) {
        qsizetype j = i;
        while (j < n && p[j] >= below)
            ++j;
        if (j > i) {
            emitPiece(bytes.sliced(i, j - i), 0);
            i = j;
        }
        if (i >= n)
            break;
        numbers.truncate(0); // keeps the buffer for the next run of control bytes
        while (i < n && p[i] < below) {
            const unsigned v = p[i];
            char form[6];
            int k = 0;
            form[k++] = '<';
            if (v >= 100)
                form[k++] = char('0' + v / 100);
            if (v >= 10)
                form[k++] = char('0' + v / 10 % 10);
            form[k++] = char('0' + v % 10);
            form[k++] = '>';
            numbers.append(form, k);
            ++i;
        }
        emitPiece(numbers, settings.asciiColor);
    }
}

void TerminalRenderer::receive(QByteArrayView bytes)
{
    const TerminalStore::Batch batch(m_store);
    renderDelivery(bytes, m_settings, [this](QByteArrayView text, ColorRef color) {
        m_store.append(text, color);
    });
}

void TerminalRenderer::addText(const QString &text, ColorRef color)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        bytes[i] = u > 0xFF ? '?' : char(u);
    }
    m_store.append(bytes, color);
}

void TerminalRenderer::addText(QByteArrayView latin1, ColorRef color)
{
    m_store.append(latin1, color);
}

void TerminalRenderer::clear()
{
    m_store.clear();
}
