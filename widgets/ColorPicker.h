#pragma once
#include "core/ColorRef.h"

#include <QPushButton>
#include <QWidget>
#include <array>

// A push button with no caption that shows a colour. The colour is kept as the
// COLORREF the settings hold, so a picked value goes back into them unchanged.
class ColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit ColorButton(QWidget *parent = nullptr);

    ColorRef color() const { return m_color; }
    void setColor(ColorRef color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Design colour, replaced as the dialog opens.
    ColorRef m_color = 12632256;
};

// One cell of the picker: a bordered swatch that reports a click.
class ColorCell : public QWidget {
    Q_OBJECT
public:
    ColorCell(int index, ColorRef color, QWidget *parent);

    int index() const { return m_index; }
    ColorRef color() const { return m_color; }
    void setHighlighted(bool on);
    bool highlighted() const { return m_highlighted; }

signals:
    void clicked(int index);
    // The mouse entered the cell (its index) or left it (-1).
    void hovered(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int m_index;
    ColorRef m_color;
    bool m_highlighted = false;
    bool m_pressed = false;
};

// The small borderless pop-up with nine fixed colours. It is a Qt::Popup: a click
// anywhere else closes it, which stands for the window losing the focus; so does Esc.
// Arrow keys move a highlight and Enter or Space picks it, for use without a mouse.
class ColorPicker : public QWidget {
    Q_OBJECT
public:
    static constexpr int CellCount = 9;

    struct Cell {
        ColorRef color;
        int column; // 0..2, on a pitch of 55 pixels across (at 96 dpi)
        int row;    // 0..2, on a pitch of 20 pixels down
    };
    // cell(0..8): the colour of each index and where it lies.
    static const std::array<Cell, CellCount> &cells();

    explicit ColorPicker(QWidget *parent = nullptr);

    ColorCell *cell(int index) const { return m_cells.at(std::size_t(index)); }

    // Shows the picker with its top left corner at a global position, kept on the screen.
    void popUpAt(const QPoint &globalTopLeft);

    // Reports the clicked cell's colour and hides the picker.
    void pick(int index);
    // Hides the picker without a change.
    void focusLost();

signals:
    void colorPicked(ColorRef color);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    int scaled(int pixels) const;
    void highlight(int index);
    int cellAt(int column, int row) const;

    std::array<ColorCell *, CellCount> m_cells{};
    int m_highlight = -1;
};
