#pragma once
#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal, so the program closes its main window the
// ordinary way (settings saved, port closed) instead of dying where it stands.
class SignalCloser : public QObject {
    Q_OBJECT
public:
    explicit SignalCloser(QObject *parent = nullptr);
    ~SignalCloser() override;

signals:
    void closeRequested(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};
