#pragma once
#include "widgets/PrintDialog.h"
#include "widgets/WindowPrinter.h"

#include <QString>

#include <functional>

class Prompter;
class QPrinter;
class QWidget;
class StatusSink;
class TerminalStore;

// The File menu's save and print commands for the two child windows. The main window
// only routes to them, handing over what each needs at the moment of the command.
class WindowCommands {
public:
    // Runs the modal print dialog; the default shows it with exec().
    using DialogRunner = std::function<void(PrintDialog &dialog)>;

    // The printer belongs to the caller, so a printer setup holds for later printing.
    // Long saves and prints show their progress over parent.
    WindowCommands(Prompter &prompts, StatusSink &status, QPrinter &printer, QWidget *parent = nullptr);

    void setPrinterSetup(PrinterSetupFn setup) { m_setup = std::move(setup); }
    void setClock(WindowPrinter::Clock clock) { m_printer.setClock(std::move(clock)); }
    void setDialogRunner(DialogRunner run) { m_runDialog = std::move(run); }
    // Runs the save and print jobs; the default shows a progress dialog with Cancel.
    void setJobRunner(const JobRunner &run);

    // fileDialogName is the main window's one file dialog name field, shared with the
    // HEX open command. statusText is the log as it stands ("" when the window is closed);
    // terminal is null when the terminal window is closed.
    void saveStatus(const QString &statusText, QString &fileDialogName);
    void saveTerminal(const TerminalStore *terminal, const QString &statusText, QString &fileDialogName);
    void print(const PrintSources &sources, QWidget *parent);
    void printSetup(QWidget *parent);

private:
    Prompter &m_prompts;
    StatusSink &m_status;
    WindowPrinter m_printer;
    PrinterSetupFn m_setup = &showPrinterSetup;
    DialogRunner m_runDialog;
    JobRunner m_runJob;
};
