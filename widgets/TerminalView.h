#pragma once
#include <QAbstractScrollArea>
#include <QFont>
#include <QRawFont>
#include <QTimer>

#include <chrono>
#include <array>
#include <functional>

class QAction;
class QPainter;
class TerminalStore;

// Shows a TerminalStore: paints only the visible lines, each colour run in its colour,
// in one fixed-pitch font at 8.5 points, without wrapping. Appends are gathered and
// shown at most once per frame. The store stays the truth; the view holds nothing but
// a selection (store positions) and where it is scrolled to.
class TerminalView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds FrameInterval{16};
    // Copying more than this to the clipboard would hold the text several times over.
    static constexpr qint64 MaxCopyBytes = 64LL * 1024 * 1024;

    explicit TerminalView(TerminalStore &store, QWidget *parent = nullptr);

    // Returns true when the typed character was taken (sent to the board); a key not
    // taken is left to the view (scrolling keys).
    void setKeyHandler(std::function<bool(quint8 charCode)> handler) { m_keyHandler = std::move(handler); }
    void setPasteHandler(std::function<void(const QString &text)> handler) { m_pasteHandler = std::move(handler); }

    bool follow() const;
    void setFollow(bool on);

    bool hasSelection() const { return m_anchor != m_cursor; }
    QString selectedText() const;
    void selectAll();
    void clearSelection();
    void copy();
    void paste();

    // Shows what the store holds now instead of at the next frame.
    void flush();
    int frames() const { return m_frames; }

    qint64 firstVisibleLine() const;
    int visibleLines() const;
    qreal charWidth() const { return m_charW; }
    int lineHeight() const { return m_lineH; }
    // The store position nearest to a point of the viewport.
    qint64 positionAt(const QPoint &pt) const;

    QAction *copyAction() const { return m_copyAct; }
    QAction *pasteAction() const { return m_pasteAct; }
    QAction *selectAllAction() const { return m_selectAllAct; }
    QAction *followAction() const { return m_followAct; }

protected:
    bool event(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    void scheduleFrame();
    void updateScrollBars();
    void setSelection(qint64 anchor, qint64 cursor);
    void drawPiece(QPainter &p, QPointF at, QByteArrayView piece);

    TerminalStore &m_store;
    QFont m_font;
    qreal m_charW = 1;
    int m_lineH = 1;
    int m_ascent = 0;
    // Every character is one byte and one cell wide: each byte's glyph is looked up once,
    // so painting a piece needs no text shaping. Bytes the font has no glyph for are
    // drawn as text instead.
    QRawFont m_rawFont;
    std::array<quint32, 256> m_glyphOf{};
    std::array<bool, 256> m_hasGlyph{};
    QList<quint32> m_glyphs;
    QList<QPointF> m_positions;
    QTimer m_frameTimer;
    int m_frames = 0;
    qint64 m_anchor = 0;
    qint64 m_cursor = 0;
    bool m_dragging = false;
    std::function<bool(quint8)> m_keyHandler;
    std::function<void(const QString &)> m_pasteHandler;
    QAction *m_copyAct;
    QAction *m_pasteAct;
    QAction *m_selectAllAct;
    QAction *m_followAct;
};
