#include "widgets/WindowCommands.h"

#include "terminal/WindowSave.h"

WindowCommands::WindowCommands(Prompter &prompts, StatusSink &status, QPrinter &printer)
    : m_prompts(prompts), m_status(status), m_printer(printer, status)
{
}

void WindowCommands::saveStatus(const QString &statusText, QString &fileDialogName)
{
    saveStatusWindow(statusText, fileDialogName, m_prompts, m_status);
}

void WindowCommands::saveTerminal(const TerminalStore *terminal, const QString &statusText,
                                         QString &fileDialogName)
{
    saveTerminalWindow(terminal, statusText, fileDialogName, m_prompts, m_status);
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
