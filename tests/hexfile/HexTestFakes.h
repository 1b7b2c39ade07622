#pragma once
#include "app/ClsGlobalState.h"
#include "app/Prompter.h"
#include "app/StatusSink.h"

#include <QStringList>

// One shared journal, so a test can check the order of boxes, status lines and mode changes.
struct Journal {
    QStringList events;
};

// Keeps the log text as the window would show it (lines joined by CR LF).
class RecordingSink : public StatusSink {
public:
    explicit RecordingSink(Journal *journal = nullptr) : m_journal(journal) {}
    void AppendStatus(const QString &text, bool endLine) override
    {
        log += text;
        if (endLine)
            log += QStringLiteral("\r\n");
        ++calls;
        if (m_journal && endLine)
            m_journal->events << QStringLiteral("line:") + text;
    }
    QString log;
    int calls = 0;

private:
    Journal *m_journal;
};

class RecordingPrompter : public Prompter {
public:
    explicit RecordingPrompter(Journal *journal) : m_journal(journal) {}
    void message(const QString &text, Icon icon) override
    {
        m_journal->events << QStringLiteral("box:") + text;
        icons << icon;
    }
    Answer abortRetryIgnore(const QString &text, Answer) override
    {
        m_journal->events << QStringLiteral("ari:") + text;
        return Answer::Abort;
    }
    QString openFileName(const QString &title, const QString &, const QString &) override
    {
        m_journal->events << QStringLiteral("open:") + title;
        return QString();
    }
    QString saveFileName(const QString &title, const QString &, const QString &) override
    {
        m_journal->events << QStringLiteral("save:") + title;
        return QString();
    }
    QList<Icon> icons;

private:
    Journal *m_journal;
};

class RecordingView : public ReadinessView {
public:
    explicit RecordingView(Journal *journal) : m_journal(journal) {}
    void setCaption(const QString &caption) override { m_journal->events << QStringLiteral("caption:") + caption; }
    void setKernelMenuEnabled(bool enabled) override
    {
        m_journal->events << QStringLiteral("kernel:") + (enabled ? QStringLiteral("on") : QStringLiteral("off"));
    }
    void addRecentFile(const QString &path) override { m_journal->events << QStringLiteral("recent:") + path; }

private:
    Journal *m_journal;
};
