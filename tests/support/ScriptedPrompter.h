#pragma once
#include "app/Prompter.h"

#include <QList>
#include <functional>
#include <QStringList>

// Answers prompts from a script and records what was asked, in order.
class ScriptedPrompter : public Prompter {
public:
    QStringList messages;           // every message and question text
    QList<Icon> icons;              // the icon of each message()
    QList<Answer> answers;          // taken in order by abortRetryIgnore
    QList<Answer> defaults;         // the default button of each abortRetryIgnore
    QStringList fileNames;          // taken in order by the file dialogs ("" = cancel)
    QStringList dialogTitles;
    std::function<void()> whileDialogOpen; // runs inside a file dialog, as events would

    void message(const QString &text, Icon icon) override
    {
        messages << text;
        icons << icon;
    }
    Answer abortRetryIgnore(const QString &text, Answer defaultButton) override
    {
        messages << text;
        defaults << defaultButton;
        return answers.isEmpty() ? Answer::Ignore : answers.takeFirst();
    }
    QString openFileName(const QString &title, const QString &, const QString &) override
    {
        dialogTitles << title;
        if (whileDialogOpen)
            whileDialogOpen();
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    QString saveFileName(const QString &title, const QString &, const QString &) override
    {
        dialogTitles << title;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
};

// Records status lines as the log's text would hold them.
#include "app/StatusSink.h"
class RecordingStatus : public StatusSink {
public:
    QString text;
    void AppendStatus(const QString &t, bool endLine) override
    {
        text += t;
        if (endLine)
            text += QLatin1String("\r\n");
    }
    QStringList lines() const { return text.split(QLatin1String("\r\n")); }
    bool lineOpen() const override { return !text.isEmpty() && !text.endsWith(QLatin1String("\r\n")); }
};
