#include "widgets/ColorPicker.h"

#include "widgets/LogicalPixels.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
QColor qtColor(ColorRef c) { return QColor::fromRgb(colorRefToArgb(c)); }

// A frame colour that stays visible on both black and light swatches.
QColor edgeOf(ColorRef c)
{
    return qtColor(c).lightness() < 96 ? QColor(0x80, 0x80, 0x80) : QColor(0x40, 0x40, 0x40);
}

// The picker's own layout at 96 dpi: client area, cell size and pitch.
constexpr int ClientWidth = 167, ClientHeight = 62;
constexpr int CellWidth = 56, CellHeight = 21;
constexpr int PitchX = 55, PitchY = 20;
} // namespace

// ColorButton ---------------------------------------------------------------------------

ColorButton::ColorButton(QWidget *parent) : QPushButton(parent)
{
    setAutoDefault(false);
}

void ColorButton::setColor(ColorRef color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QSize ColorButton::sizeHint() const
{
    // 71 x 26 pixels at 96 dpi; grow with the font so the button keeps its proportions
    // beside larger labels.
    const int h = qMax(26, fontMetrics().height() + 10);
    return QSize(qMax(71, h * 71 / 26), h);
}

void ColorButton::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    p.drawControl(QStyle::CE_PushButtonBevel, opt);
    // The whole face inside the bevel shows the colour; the style's own contents
    // rectangle keeps the focus frame and the pressed look visible around it.
    QRect face = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
    face.adjust(1, 1, -1, -1);
    if (isDown())
        face.translate(1, 1);
    p.fillRect(face, qtColor(m_color));
    p.setPen(edgeOf(m_color));
    p.drawRect(face.adjusted(0, 0, -1, -1));
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = face.adjusted(-3, -3, 3, 3) & rect();
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

// ColorCell -----------------------------------------------------------------------------

ColorCell::ColorCell(int index, ColorRef color, QWidget *parent)
    : QWidget(parent), m_index(index), m_color(color)
{
    setObjectName(QStringLiteral("picColor%1").arg(index));
}

void ColorCell::setHighlighted(bool on)
{
    if (m_highlighted == on)
        return;
    m_highlighted = on;
    update();
}

void ColorCell::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, qtColor(m_color));
    // A sunken edge, like a picture box: dark on top and left, light below and right.
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(QColor(0xff, 0xff, 0xff));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    if (m_highlighted) {
        const QColor ring = qtColor(m_color).lightness() < 128 ? Qt::white : Qt::black;
        p.setPen(QPen(ring, 1, Qt::DotLine));
        p.drawRect(r.adjusted(2, 2, -3, -3));
    }
}

void ColorCell::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
}

void ColorCell::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked(m_index);
}

void ColorCell::enterEvent(QEnterEvent *)
{
    emit hovered(m_index);
}

void ColorCell::leaveEvent(QEvent *)
{
    emit hovered(-1);
}

// ColorPicker --------------------------------------------------------------------------

const std::array<ColorPicker::Cell, ColorPicker::CellCount> &ColorPicker::cells()
{
    static const std::array<Cell, CellCount> cells = {{
        {255, 1, 0},      // 0 red
        {0, 0, 0},        // 1 black
        {16776960, 2, 2}, // 2 cyan
        {8388608, 2, 0},  // 3 navy
        {65535, 1, 2},    // 4 yellow
        {16384, 0, 1},    // 5 dark green
        {12583104, 2, 1}, // 6 purple
        {65280, 1, 1},    // 7 green
        {12632256, 0, 2}, // 8 light grey
    }};
    return cells;
}

ColorPicker::ColorPicker(QWidget *parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("colorPicker"));
    // A click outside only closes the picker; it does not also press what lies under it.
    setAttribute(Qt::WA_NoMouseReplay);
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(scaled(ClientWidth), scaled(ClientHeight));
    for (int i = 0; i < CellCount; ++i) {
        const Cell &c = cells()[std::size_t(i)];
        auto *cell = new ColorCell(i, c.color, this);
        // Neighbours overlap by one pixel, so their borders share one line.
        cell->setGeometry(scaled(c.column * PitchX), scaled(c.row * PitchY),
                          scaled(CellWidth), scaled(CellHeight));
        connect(cell, &ColorCell::clicked, this, &ColorPicker::pick);
        connect(cell, &ColorCell::hovered, this, &ColorPicker::highlight);
        m_cells[std::size_t(i)] = cell;
    }
}

int ColorPicker::scaled(int pixels) const
{
    return logicalPixels(pixels, logicalDpiX());
}

void ColorPicker::popUpAt(const QPoint &globalTopLeft)
{
    QPoint pos = globalTopLeft;
    QScreen *screen = QGuiApplication::screenAt(globalTopLeft);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect avail = screen->availableGeometry();
        pos.setX(qBound(avail.left(), pos.x(), qMax(avail.left(), avail.right() + 1 - width())));
        pos.setY(qBound(avail.top(), pos.y(), qMax(avail.top(), avail.bottom() + 1 - height())));
    }
    move(pos);
    show();
}

void ColorPicker::pick(int index)
{
    if (index < 0 || index >= CellCount)
        return;
    const ColorRef color = m_cells[std::size_t(index)]->color();
    hide();
    emit colorPicked(color);
}

void ColorPicker::focusLost()
{
    hide();
}

int ColorPicker::cellAt(int column, int row) const
{
    for (int i = 0; i < CellCount; ++i)
        if (cells()[std::size_t(i)].column == column && cells()[std::size_t(i)].row == row)
            return i;
    return -1;
}

void ColorPicker::highlight(int index)
{
    m_highlight = index;
    for (ColorCell *cell : m_cells)
        cell->setHighlighted(cell->index() == index);
}

void ColorPicker::keyPressEvent(QKeyEvent *event)
{
    int column = 0, row = 0;
    if (m_highlight >= 0) {
        column = cells()[std::size_t(m_highlight)].column;
        row = cells()[std::size_t(m_highlight)].row;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        focusLost();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (m_highlight >= 0)
            pick(m_highlight);
        return;
    case Qt::Key_Left:
        column = m_highlight < 0 ? 0 : (column + 2) % 3;
        break;
    case Qt::Key_Right:
        column = m_highlight < 0 ? 0 : (column + 1) % 3;
        break;
    case Qt::Key_Up:
        row = m_highlight < 0 ? 0 : (row + 2) % 3;
        break;
    case Qt::Key_Down:
        row = m_highlight < 0 ? 0 : (row + 1) % 3;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    highlight(cellAt(column, row));
}

void ColorPicker::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    highlight(-1);
    setFocus(Qt::PopupFocusReason);
}
