#pragma once
#include "app/Prompter.h"
#include "app/StatusSink.h"

#include <QList>
#include <QStringList>
#include <functional>

// Keeps the status log as text, so tests compare whole lines as the user sees them.
class RecordingStatus : public StatusSink {
public:
    void AppendStatus(const QString &text, bool endLine) override
    {
        m_text += text;
        if (endLine)
            m_text += QStringLiteral("\r\n");
    }
    QString text() const { return m_text; }
    // Complete lines and, last, an unfinished one if there is any.
    QStringList lines() const
    {
        QStringList out = m_text.split(QStringLiteral("\r\n"));
        if (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }
    void clear() { m_text.clear(); }

private:
    QString m_text;
};

// Answers the message boxes from a script and records what was asked.
class ScriptedPrompter : public Prompter {
public:
    struct Box {
        QString text;
        Answer defaultButton;
        bool abortRetryIgnore;
    };

    void message(const QString &text, Icon) override { boxes.append({text, Answer::Ok, false}); }
    Answer abortRetryIgnore(const QString &text, Answer defaultButton) override
    {
        boxes.append({text, defaultButton, true});
        if (beforeAnswer)
            beforeAnswer(boxes.size());
        return answers.isEmpty() ? Answer::Ignore : answers.takeFirst();
    }
    QString openFileName(const QString &, const QString &, const QString &) override { return {}; }
    QString saveFileName(const QString &, const QString &, const QString &) override { return {}; }

    QList<Answer> answers;
    QList<Box> boxes;
    // Runs while a dialog is "up", with the number of the dialog; lets a test change the
    // world (free the port, plug the device in) before the user answers.
    std::function<void(int)> beforeAnswer;
};
