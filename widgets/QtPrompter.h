#pragma once
#include "core/Prompter.h"

class QWidget;

// Prompts as real message boxes and file dialogs, parented to the main window.
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    void message(const QString &text, Icon icon) override;
    Answer abortRetryIgnore(const QString &text, Answer defaultButton) override;
    QString openFileName(const QString &title, const QString &filter, const QString &name) override;
    QString saveFileName(const QString &title, const QString &filter, const QString &name) override;

private:
    QWidget *m_parent;
};

// "Intel Hex files (*.hex)|*.hex|All files (*.*)|*.*" as a Qt file dialog filter.
QString qtFileFilter(const QString &pipeFilter);
