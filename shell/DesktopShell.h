#pragma once
#include <QString>
#include <QStringList>

#include <cstdint>

// Starts other programs and opens documents, web addresses and mail links. Every user makes
// its own object; nothing is shared between objects.
//
// A command line is split into a program and its arguments by the usual shell quoting rules
// and the program is started directly, never through a shell. The show-window codes are kept
// for callers; the desktop decides how a new program's window appears.
class DesktopShell {
public:
    static constexpr int16_t ShowNormal = 1;
    static constexpr int16_t ShowWindow = 5;
    // Open results: above 32 is success, as callers of the open action expect.
    static constexpr int32_t OpenSucceeded = 33;
    static constexpr int32_t OpenFailed = 0;

    DesktopShell() = default;

    void setShow(int16_t showMode) { m_show = showMode; }
    int16_t show() const { return m_show; }
    void setWaitForClose(bool wait) { m_waitForClose = wait; }
    bool waitForClose() const { return m_waitForClose; }

    // 1 when the program was started, 0 when not. With WaitForClose, returns only after the
    // program has ended; window events are processed meanwhile.
    int32_t run(const QString &commandLine);
    // As Run, with its own wait flag and show code; the object's settings are not touched.
    int32_t runOp(const QString &commandLine, bool wait = false, int16_t showMode = 0);
    // Starts program with arguments given one by one, so no quoting is needed.
    int32_t runProgram(const QString &program, const QStringList &arguments, bool wait = false);

    // Opens a file with its registered application, or a web address in the browser.
    int32_t runUrl(const QString &target);
    // "mailto:" + address + "?subject=" + subject, with neither part escaped.
    int32_t mailto(const QString &address, const QString &subject = QString());
    static QString mailtoText(const QString &address, const QString &subject);

    // Id of the process started last, 0 before any.
    qint64 processId() const { return m_processId; }
    // Exit code of the last program waited for.
    int exitCode() const { return m_exitCode; }

private:
    int16_t m_show = ShowNormal;
    bool m_waitForClose = false;
    qint64 m_processId = 0;
    int m_exitCode = 0;
};
