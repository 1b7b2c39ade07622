#include "widgets/SplashWindow.h"

#include "widgets/LogicalPixels.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>

SplashWindow::SplashWindow(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(logicalPixels(602, logicalDpiX()), logicalPixels(302, logicalDpiX()));
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QTimer::singleShot(CloseAfterMs, this, &QWidget::close);
}

void SplashWindow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    QLinearGradient bg(r.topLeft(), r.bottomRight());
    bg.setColorAt(0, QColor(0x10, 0x2a, 0x43));
    bg.setColorAt(1, QColor(0x1f, 0x5f, 0x5b));
    p.fillRect(r, bg);

    // A 40-pin chip: the board's heart.
    const QRectF chip(r.width() * 0.08, r.height() * 0.22, r.width() * 0.24, r.height() * 0.56);
    p.setPen(QPen(QColor(0xc8, 0xd0, 0xd8), 2));
    for (int i = 0; i < 10; ++i) {
        const double y = chip.top() + chip.height() * (i + 0.5) / 10;
        p.drawLine(QPointF(chip.left() - 12, y), QPointF(chip.left(), y));
        p.drawLine(QPointF(chip.right(), y), QPointF(chip.right() + 12, y));
    }
    p.setBrush(QColor(0x22, 0x22, 0x26));
    p.setPen(QPen(QColor(0x60, 0x60, 0x68), 1.5));
    p.drawRoundedRect(chip, 4, 4);
    p.setPen(QColor(0xe0, 0xe0, 0xe0));
    QFont chipFont(QStringLiteral("Monospace"));
    chipFont.setStyleHint(QFont::TypeWriter);
    chipFont.setPixelSize(qMax(8, int(chip.width() / 6)));
    p.setFont(chipFont);
    p.drawText(chip, Qt::AlignCenter, QStringLiteral("8051"));

    QFont title = font();
    title.setPixelSize(int(r.height() * 0.2));
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    const QRectF text(r.width() * 0.38, r.height() * 0.18, r.width() * 0.6, r.height() * 0.36);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvade"));
    QFont sub = font();
    sub.setPixelSize(int(r.height() * 0.055));
    p.setFont(sub);
    p.setPen(QColor(0xb8, 0xd8, 0xd0));
    p.drawText(QRectF(r.width() * 0.38, r.height() * 0.54, r.width() * 0.6, r.height() * 0.2),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QStringLiteral("Download, run and talk to\nyour 8051 board.\nVersion " CORVADE_VERSION));
}
