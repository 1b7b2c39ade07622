#include "widgets/TerminalView.h"

#include "core/ColorRef.h"
#include "terminal/TerminalStore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {
const QColor Background(Qt::white);
const QColor SelectionBackground(0xAD, 0xD6, 0xFF);

// Control characters have no glyph; a blank keeps every column one character wide.
char16_t shownChar(unsigned char b)
{
    return (b < 0x20 || (b >= 0x7F && b < 0xA0)) ? u' ' : char16_t(b);
}

QString shownText(QByteArrayView bytes)
{
    QString s(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        s[i] = QChar(shownChar(static_cast<unsigned char>(bytes[i])));
    return s;
}

// Ctrl with a letter is a control character, whatever text the platform attaches.
int controlCode(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    switch (key) {
    case Qt::Key_At:
    case Qt::Key_Space:
        return 0;
    case Qt::Key_BracketLeft:
        return 27;
    case Qt::Key_Backslash:
        return 28;
    case Qt::Key_BracketRight:
        return 29;
    case Qt::Key_AsciiCircum:
        return 30;
    case Qt::Key_Underscore:
        return 31;
    default:
        return -1;
    }
}

bool isWordByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7F && !(u >= 0x80 && u < 0xA1);
}
} // namespace

TerminalView::TerminalView(TerminalStore &store, QWidget *parent)
    : QAbstractScrollArea(parent), m_store(store)
{
    m_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_font.setStyleHint(QFont::Monospace);
    m_font.setFixedPitch(true);
    m_font.setPointSizeF(8.5);
    viewport()->setFont(m_font);
    const QFontMetricsF fm(m_font);
    m_charW = std::max<qreal>(1, fm.horizontalAdvance(QLatin1Char('M')));
    m_lineH = std::max(1, int(std::ceil(fm.lineSpacing())));
    m_ascent = int(std::ceil(fm.ascent()));
    m_rawFont = QRawFont::fromFont(m_font);
    if (m_rawFont.isValid()) {
        QString all(256, Qt::Uninitialized);
        for (int b = 0; b < 256; ++b)
            all[b] = QChar(shownChar(static_cast<unsigned char>(b)));
        const QList<quint32> glyphs = m_rawFont.glyphIndexesForString(all);
        for (int b = 0; b < 256 && b < glyphs.size(); ++b) {
            m_glyphOf[size_t(b)] = glyphs[b];
            m_hasGlyph[size_t(b)] = glyphs[b] != 0;
        }
    }
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(FrameInterval);
    connect(&m_frameTimer, &QTimer::timeout, this, &TerminalView::flush);
    connect(&m_store, &TerminalStore::appended, this, &TerminalView::scheduleFrame);
    connect(&m_store, &TerminalStore::cleared, this, [this] {
        m_anchor = m_cursor = 0;
        scheduleFrame();
    });

    m_copyAct = new QAction(tr("&Copy"), this);
    m_copyAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    connect(m_copyAct, &QAction::triggered, this, &TerminalView::copy);
    m_pasteAct = new QAction(tr("&Paste"), this);
    m_pasteAct->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    connect(m_pasteAct, &QAction::triggered, this, &TerminalView::paste);
    m_selectAllAct = new QAction(tr("Select &All"), this);
    connect(m_selectAllAct, &QAction::triggered, this, &TerminalView::selectAll);
    m_followAct = new QAction(tr("Follow output"), this);
    m_followAct->setCheckable(true);
    m_followAct->setChecked(true);
    connect(m_followAct, &QAction::toggled, this, [this](bool on) {
        if (on)
            flush();
    });
    updateScrollBars();
}

bool TerminalView::follow() const
{
    return m_followAct->isChecked();
}

void TerminalView::setFollow(bool on)
{
    m_followAct->setChecked(on);
}

void TerminalView::scheduleFrame()
{
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

void TerminalView::flush()
{
    m_frameTimer.stop();
    updateScrollBars();
    if (follow())
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
    ++m_frames;
}

int TerminalView::visibleLines() const
{
    return std::max(1, viewport()->height() / m_lineH);
}

qint64 TerminalView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

void TerminalView::updateScrollBars()
{
    const qint64 lines = m_store.lineCount();
    const int page = visibleLines();
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setRange(0, int(std::min<qint64>(INT_MAX, std::max<qint64>(0, lines - page))));
    const int cols = std::max(1, int(viewport()->width() / m_charW));
    horizontalScrollBar()->setPageStep(cols);
    horizontalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setRange(
        0, int(std::min<qint64>(INT_MAX, std::max<qint64>(0, m_store.maxLineLength() + 1 - cols))));
}

void TerminalView::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    updateScrollBars();
    if (follow())
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TerminalView::paintEvent(QPaintEvent *)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), Background);
    p.setFont(m_font);
    const qint64 first = firstVisibleLine();
    const qint64 col0 = horizontalScrollBar()->value();
    const qint64 cols = qint64(viewport()->width() / m_charW) + 2;
    const int rows = viewport()->height() / m_lineH + 1;
    const qint64 selBegin = std::min(m_anchor, m_cursor);
    const qint64 selEnd = std::max(m_anchor, m_cursor);
    for (int row = 0; row < rows; ++row) {
        const qint64 n = first + row;
        if (n >= m_store.lineCount())
            break;
        const TerminalStore::LineRange r = m_store.line(n);
        const int top = row * m_lineH;
        if (selBegin < selEnd && selBegin <= r.end && selEnd > r.begin) {
            const qint64 a = std::max(selBegin, r.begin) - r.begin - col0;
            // A selection that runs on past the line end shows one more cell for the break.
            const qint64 b = std::min(selEnd, r.end + 1) - r.begin - col0;
            if (b > 0)
                p.fillRect(QRectF(std::max<qint64>(a, 0) * m_charW, top,
                                  (b - std::max<qint64>(a, 0)) * m_charW, m_lineH),
                           SelectionBackground);
        }
        const qint64 begin = std::min(r.end, r.begin + col0);
        const qint64 end = std::min(r.end, begin + cols);
        qint64 pos = begin;
        m_store.forEachPiece(begin, end, [&](QByteArrayView piece, ColorRef color) {
            p.setPen(QColor::fromRgb(colorRefToArgb(color)));
            drawPiece(p, QPointF((pos - begin) * m_charW, top + m_ascent), piece);
            pos += piece.size();
            return true;
        });
    }
}

void TerminalView::drawPiece(QPainter &p, QPointF at, QByteArrayView piece)
{
    m_glyphs.resize(piece.size());
    m_positions.resize(piece.size());
    for (qsizetype i = 0; i < piece.size(); ++i) {
        const auto b = static_cast<unsigned char>(piece[i]);
        if (!m_hasGlyph[b]) {
            p.drawText(at, shownText(piece));
            return;
        }
        m_glyphs[i] = m_glyphOf[b];
        m_positions[i] = QPointF(at.x() + qreal(i) * m_charW, at.y());
    }
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(m_glyphs);
    run.setPositions(m_positions);
    p.drawGlyphRun(QPointF(0, 0), run);
}

qint64 TerminalView::positionAt(const QPoint &pt) const
{
    const qint64 n = std::clamp<qint64>(firstVisibleLine() + std::max(0, pt.y()) / m_lineH, 0,
                                        m_store.lineCount() - 1);
    const TerminalStore::LineRange r = m_store.line(n);
    const qint64 col = horizontalScrollBar()->value() + qint64(std::lround(pt.x() / m_charW));
    return std::min(r.begin + std::max<qint64>(col, 0), r.end);
}

void TerminalView::setSelection(qint64 anchor, qint64 cursor)
{
    m_anchor = anchor;
    m_cursor = cursor;
    viewport()->update();
}

void TerminalView::clearSelection()
{
    setSelection(m_cursor, m_cursor);
}

void TerminalView::selectAll()
{
    setSelection(0, m_store.size());
}

QString TerminalView::selectedText() const
{
    const qint64 begin = std::min(m_anchor, m_cursor);
    const qint64 end = std::min(std::max(m_anchor, m_cursor), begin + MaxCopyBytes);
    QString s = QString::fromLatin1(m_store.text(begin, end));
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

void TerminalView::copy()
{
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

void TerminalView::paste()
{
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty() && m_pasteHandler)
        m_pasteHandler(text);
}

bool TerminalView::event(QEvent *e)
{
    // Tab would move the focus; while a handler takes characters it is a character.
    if (e->type() == QEvent::KeyPress) {
        auto *k = static_cast<QKeyEvent *>(e);
        if (k->key() == Qt::Key_Tab && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
            && m_keyHandler && m_keyHandler(9)) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void TerminalView::keyPressEvent(QKeyEvent *e)
{
    const auto mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier)) {
        if (e->key() == Qt::Key_C) {
            copy();
            return;
        }
        if (e->key() == Qt::Key_V) {
            paste();
            return;
        }
    }
    if (e->key() == Qt::Key_ScrollLock) {
        setFollow(!follow());
        return;
    }
    int code = -1;
    const QString text = e->text();
    if (mods == Qt::ControlModifier)
        code = controlCode(e->key());
    if (code < 0 && text.size() == 1 && text.at(0).unicode() <= 0xFF)
        code = text.at(0).unicode();
    if (code >= 0 && m_keyHandler && m_keyHandler(quint8(code))) {
        e->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

void TerminalView::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    const qint64 pos = positionAt(e->position().toPoint());
    if (e->modifiers() & Qt::ShiftModifier)
        setSelection(m_anchor, pos);
    else
        setSelection(pos, pos);
    m_dragging = true;
}

void TerminalView::mouseMoveEvent(QMouseEvent *e)
{
    if (m_dragging && (e->buttons() & Qt::LeftButton))
        setSelection(m_anchor, positionAt(e->position().toPoint()));
}

void TerminalView::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        QClipboard *cb = QApplication::clipboard();
        if (hasSelection() && cb->supportsSelection())
            cb->setText(selectedText(), QClipboard::Selection);
    }
}

void TerminalView::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const qint64 pos = positionAt(e->position().toPoint());
    const TerminalStore::LineRange r = m_store.line(m_store.lineAt(pos));
    qint64 b = pos;
    qint64 en = pos;
    while (b > r.begin && isWordByte(m_store.at(b - 1)))
        --b;
    while (en < r.end && isWordByte(m_store.at(en)))
        ++en;
    setSelection(b, en);
    m_dragging = false;
}

void TerminalView::contextMenuEvent(QContextMenuEvent *e)
{
    m_copyAct->setEnabled(hasSelection());
    m_pasteAct->setEnabled(bool(m_pasteHandler) && !QApplication::clipboard()->text().isEmpty());
    QMenu menu(this);
    menu.addAction(m_copyAct);
    menu.addAction(m_pasteAct);
    menu.addSeparator();
    menu.addAction(m_selectAllAct);
    menu.addSeparator();
    menu.addAction(m_followAct);
    menu.exec(e->globalPos());
}
