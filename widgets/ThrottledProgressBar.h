#pragma once
#include <QProgressBar>
#include <QTimer>

// A progress bar for values that change more often than anyone reads them (one per record
// of a download): the latest value is drawn twice a second at most. A plain
// QProgressBar repaints at once on every new value.
class ThrottledProgressBar : public QProgressBar {
    Q_OBJECT
public:
    // Two updates a second still read as steady progress (some twenty records each at 19200
    // baud); the status log's view keeps the same pace, so both are drawn in one pass. Once a
    // frame would not do: a record takes about a frame, so the views would still be drawn for
    // every one, and four a second cost a download more than its own work.
    static constexpr int UpdateInterval = 500;

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
