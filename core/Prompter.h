#pragma once
#include <QString>
#include <QStringList>

// Every message box and file dialog goes through this interface, so tests can answer
// them without a human. The widgets layer implements it with QMessageBox/QFileDialog.
class Prompter {
public:
    enum class Icon { None, Information, Exclamation, Critical };
    enum class Answer { Ok, Cancel, Abort, Retry, Ignore };

    virtual ~Prompter() = default;

    // An OK box whose caption is the application title.
    virtual void message(const QString &text, Icon icon = Icon::None) = 0;
    // Abort, Retry and Ignore with an exclamation icon and the given default button.
    virtual Answer abortRetryIgnore(const QString &text, Answer defaultButton) = 0;
    // Open/save dialogs: an empty result means the user cancelled. `name` is the file
    // name field the dialog starts with.
    virtual QString openFileName(const QString &title, const QString &filter, const QString &name) = 0;
    virtual QString saveFileName(const QString &title, const QString &filter, const QString &name) = 0;
};
