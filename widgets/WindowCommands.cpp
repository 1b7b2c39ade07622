#include "widgets/WindowCommands.h"

#include "terminal/WindowSave.h"
#include "widgets/JobProgress.h"

WindowCommands::WindowCommands(Prompter &prompts, StatusSink &status, QPrinter &printer, QWidget *parent)
    : m_prompts(prompts), m_status(status), m_printer(printer, status)
{
    setJobRunner(progressRunner(parent));
}

void WindowCommands::setJobRunner(const JobRunner &run)
{
    m_runJob = run;
    m_printer.setJobRunner(run);
}

void WindowCommands::saveStatus(const QString &statusText, QString &fileDialogName)
{
    saveStatusWindow(statusText, fileDialogName, m_prompts, m_status);
}

void WindowCommands::saveTerminal(const TerminalStore *terminal, const QString &statusText,
                                         QString &fileDialogName)
{
    saveTerminalWindow(terminal, statusText, fileDialogName, m_prompts, m_status, m_runJob);
}

void WindowCommands::print(const PrintSources &sources, QWidget *parent)
{
    // Made afresh each time, so no earlier choice is remembered.
    PrintDialog dialog(m_printer, sources, parent);
    dialog.setPrinterSetup(m_setup);
    if (m_runDialog)
        m_runDialog(dialog);
    else
        dialog.exec();
}

void WindowCommands::printSetup(QWidget *parent)
{
    if (m_setup)
        m_setup(m_printer.printer(), parent);
}
