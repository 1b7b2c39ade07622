#pragma once
#include "core/Readiness.h"
#include "core/Prompter.h"
#include "core/StatusSink.h"

#include <QList>
#include <QStringList>
#include <functional>

// One shared journal, so a test can check the order of boxes, status lines and mode changes.
struct Journal {
    QStringList events;
};

// Keeps the status log as the window would (lines joined by CR LF), so tests compare whole
// lines as the user sees them.
class RecordingStatus : public StatusSink {
public:
    explicit RecordingStatus(Journal *journal = nullptr) : m_journal(journal) {}
    void appendStatus(const QString &t, bool endLine) override
    {
        text += t;
        if (endLine)
            text += QStringLiteral("\r\n");
        ++calls;
        if (m_journal && endLine)
            m_journal->events << QStringLiteral("line:") + t;
    }
    bool lineOpen() const override { return !text.isEmpty() && !text.endsWith(QStringLiteral("\r\n")); }
    // Complete lines and, last, an unfinished one if there is any.
    QStringList lines() const
    {
        QStringList out = text.split(QStringLiteral("\r\n"));
        if (out.last().isEmpty())
            out.removeLast();
        return out;
    }
    void clear() { text.clear(); }

    QString text;
    int calls = 0;

private:
    Journal *m_journal;
};

// Answers message boxes and file dialogs from a script and records what was asked, in order.
class ScriptedPrompter : public Prompter {
public:
    struct Box {
        QString text;
        Answer defaultButton;
        bool abortRetryIgnore;
    };
    explicit ScriptedPrompter(Journal *journal = nullptr) : m_journal(journal) {}

    void message(const QString &text, Icon icon) override
    {
        note(QStringLiteral("box:"), text);
        icons << icon;
        boxes.append({text, Answer::Ok, false});
    }
    Answer abortRetryIgnore(const QString &text, Answer defaultButton) override
    {
        note(QStringLiteral("ari:"), text);
        defaults << defaultButton;
        boxes.append({text, defaultButton, true});
        if (beforeAnswer)
            beforeAnswer(int(boxes.size()));
        return answers.isEmpty() ? Answer::Ignore : answers.takeFirst();
    }
    QString openFileName(const QString &title, const QString &, const QString &) override
    {
        dialogTitles << title;
        if (m_journal)
            m_journal->events << QStringLiteral("open:") + title;
        if (whileDialogOpen)
            whileDialogOpen();
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    QString saveFileName(const QString &title, const QString &, const QString &) override
    {
        dialogTitles << title;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }

    QStringList messages;                  // every message and question text
    QList<Icon> icons;                     // the icon of each message()
    QList<Box> boxes;
    QList<Answer> answers;                 // taken in order by abortRetryIgnore ("Ignore" when none)
    QList<Answer> defaults;                // the default button of each abortRetryIgnore
    QStringList fileNames;                 // taken in order by the file dialogs ("" = cancel)
    QStringList dialogTitles;
    std::function<void()> whileDialogOpen; // runs inside a file dialog, as events would
    // Runs while an Abort/Retry/Ignore box is up, with its number; lets a test change the
    // world (free the port, plug the device in) before the user answers.
    std::function<void(int)> beforeAnswer;

private:
    void note(const QString &kind, const QString &text)
    {
        messages << text;
        if (m_journal)
            m_journal->events << kind + text;
    }
    Journal *m_journal;
};

// The window's side of the readiness modes, as journal entries.
class RecordingView : public ReadinessView {
public:
    explicit RecordingView(Journal *journal) : m_journal(journal) {}
    void setCaption(const QString &caption) override { m_journal->events << QStringLiteral("caption:") + caption; }
    void setKernelMenuEnabled(bool on) override
    {
        kernelEnabled = on;
        m_journal->events << (on ? QStringLiteral("kernel:on") : QStringLiteral("kernel:off"));
    }
    void addRecentFile(const QString &path) override { m_journal->events << QStringLiteral("recent:") + path; }
    bool kernelEnabled = true;

private:
    Journal *m_journal;
};
