#include "terminal/WindowCommands.h"

#include "terminal/WindowSave.h"

WindowCommands::WindowCommands(Prompter &prompts, StatusSink &status, QPrinter &printer)
    : m_prompts(prompts), m_status(status), m_printer(printer, status)
{
}

void WindowCommands::mnuFileSaveStatus(const QString &statusText, QString &fileDialogName)
{
    SaveStatusWindow(statusText, fileDialogName, m_prompts, m_status);
}

void WindowCommands::mnuFileSaveTerminal(const TerminalStore *terminal, const QString &statusText,
                                         QString &fileDialogName)
{
    SaveTerminalWindow(terminal, statusText, fileDialogName, m_prompts, m_status);
}

void WindowCommands::mnuFilePrint(const PrintSources &sources, QWidget *parent)
{
    // Made afresh each time, so no earlier choice is remembered.
    FrmPrint dialog(m_printer, sources, parent);
    dialog.setPrinterSetup(m_setup);
    if (m_runDialog)
        m_runDialog(dialog);
    else
        dialog.exec();
}

void WindowCommands::mnuFilePrintSetup(QWidget *parent)
{
    if (m_setup)
        m_setup(m_printer.printer(), parent);
}
