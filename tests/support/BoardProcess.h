#pragma once
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

// Starts corvade-board for a test and learns its device from the first output line.
class BoardProcess {
public:
    ~BoardProcess() { stop(); }

    // `linkPath` empty: no symbolic link. Returns the device path (empty on failure).
    QString start(const QStringList &options, const QString &linkPath = {}, const QString &logPath = {})
    {
        QStringList args = options;
        args << QStringLiteral("--time-limit") << QStringLiteral("120");
        if (!linkPath.isEmpty())
            args << QStringLiteral("--link") << linkPath;
        if (!logPath.isEmpty())
            args << QStringLiteral("--log") << logPath;
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(CORVADE_BOARD_PATH), args);
        if (!m_process.waitForStarted(10000))
            return {};
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return {};
        }
        m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return m_device;
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }
    QString device() const { return m_device; }

private:
    QProcess m_process;
    QString m_device;
};
