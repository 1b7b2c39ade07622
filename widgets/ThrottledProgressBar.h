#pragma once
#include <QProgressBar>
#include <QTimer>

// A progress bar for values that change more often than anyone reads them (one per record
// of a download): the latest value is drawn four times a second at most. A plain
// QProgressBar repaints at once on every new value.
class ThrottledProgressBar : public QProgressBar {
    Q_OBJECT
public:
    // Four updates a second still read as steady progress; the status log's view keeps the
    // same pace. Once a frame would not do: at 19200 baud a record takes about a frame, so
    // the views would still be drawn for every one.
    static constexpr int UpdateInterval = 250;

    explicit ThrottledProgressBar(QWidget *parent = nullptr);

    // Shown with the next update; a later value before then replaces it.
    void setValueLater(int value);
    // Draws the latest value now, e.g. when the work is over.
    void flush();

private:
    QTimer m_updateTimer;
    int m_pending = 0;
    bool m_hasPending = false;
};
