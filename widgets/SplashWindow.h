#pragma once
#include <QWidget>

// The splash window: our own picture, kept above all windows, closes itself after 2000 ms.
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int CloseAfterMs = 2000;
    explicit SplashWindow(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
