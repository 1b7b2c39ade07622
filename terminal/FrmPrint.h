#pragma once
#include "terminal/PrintJob.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QPrinter;
class QPushButton;

// Shows the printer setup dialog for printer; false when the user cancelled, which
// leaves the printer as it was.
using PrinterSetupFn = std::function<bool(QPrinter &printer, QWidget *parent)>;
bool ShowPrinterSetup(QPrinter &printer, QWidget *parent);

// The modal print dialog: which windows to print. It starts with the terminal chosen
// and the status log not, every time it opens; OK prints and closes, Cancel closes.
class FrmPrint : public QDialog {
    Q_OBJECT
public:
    FrmPrint(WindowPrinter &printer, PrintSources sources, QWidget *parent = nullptr);

    void setPrinterSetup(PrinterSetupFn setup) { m_setup = std::move(setup); }

    QCheckBox *chkTerminal() const { return m_chkTerminal; }
    QCheckBox *chkStatus() const { return m_chkStatus; }
    QPushButton *cmdOk() const { return m_cmdOk; }
    QPushButton *cmdCancel() const { return m_cmdCancel; }
    QPushButton *cmdSetup() const { return m_cmdSetup; }

    // OK: prints the chosen windows, then closes.
    void accept() override;

private:
    void cmdSetup_Click();

    WindowPrinter &m_printer;
    PrintSources m_sources;
    PrinterSetupFn m_setup = &ShowPrinterSetup;
    QCheckBox *m_chkTerminal;
    QCheckBox *m_chkStatus;
    QPushButton *m_cmdOk;
    QPushButton *m_cmdCancel;
    QPushButton *m_cmdSetup;
};
