#pragma once
#include "core/ColorRef.h"

#include <QByteArrayView>
#include <QString>

#include <functional>

class TerminalStore;

// The settings that decide how received bytes are shown, passed in as values.
struct TerminalRenderSettings {
    bool printAscii = true;
    int asciiBelow = 13;     // bytes below it show as "<n>"; clamped to 0..255
    ColorRef asciiColor = 0;
};

// Renders one delivery by the rule of Receive, every byte in order: a byte not below
// asciiBelow, or any byte with printAscii off, is itself in colour 0; otherwise it is
// "<n>" in asciiColor. Consecutive bytes of one kind come out as one piece.
void renderDelivery(QByteArrayView bytes, const TerminalRenderSettings &settings,
                    const std::function<void(QByteArrayView text, ColorRef color)> &emitPiece);

// The operations the rest of the program calls to put text into the terminal.
class TerminalRenderer {
public:
    explicit TerminalRenderer(TerminalStore &store) : m_store(store) {}

    void setSettings(const TerminalRenderSettings &settings) { m_settings = settings; }
    const TerminalRenderSettings &settings() const { return m_settings; }

    // Shows a whole delivery in one batch.
    void receive(QByteArrayView bytes);
    // Adds a piece at the end in its colour. Characters above 255 cannot be one byte
    // and show as "?".
    void addText(const QString &text, ColorRef color);
    void addText(QByteArrayView latin1, ColorRef color);
    // Empties the terminal.
    void clear();

private:
    TerminalStore &m_store;
    TerminalRenderSettings m_settings;
};
