#pragma once
#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal, so the program closes its main window the
// ordinary way (settings saved, port closed) instead of dying where it stands.
// The request is also remembered at once, so code that runs before any event is
// processed (the start procedure) can see it and act on it.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(QObject *parent = nullptr);
    ~SignalCloser() override;

    // True once SIGINT or SIGTERM arrived after this object was made.
    static bool pending();

signals:
    void closeRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};
