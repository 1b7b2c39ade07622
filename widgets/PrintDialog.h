#pragma once
#include "widgets/WindowPrinter.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QPrinter;
class QPushButton;

// Shows the printer setup dialog for printer; false when the user cancelled, which
// leaves the printer as it was.
using PrinterSetupFn = std::function<bool(QPrinter &printer, QWidget *parent)>;
bool showPrinterSetup(QPrinter &printer, QWidget *parent);

// The modal print dialog: which windows to print. It starts with the terminal chosen
// and the status log not, every time it opens; OK prints and closes, Cancel closes.
class PrintDialog : public QDialog {
    Q_OBJECT
public:
    PrintDialog(WindowPrinter &printer, PrintSources sources, QWidget *parent = nullptr);

    void setPrinterSetup(PrinterSetupFn setup) { m_setup = std::move(setup); }

    QCheckBox *terminalBox() const { return m_terminalBox; }
    QCheckBox *statusBox() const { return m_statusBox; }
    QPushButton *okButton() const { return m_okButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *setupButton() const { return m_setupButton; }

    // OK: prints the chosen windows, then closes.
    void accept() override;

private:
    void setUpPrinter();

    WindowPrinter &m_printer;
    PrintSources m_sources;
    PrinterSetupFn m_setup = &showPrinterSetup;
    QCheckBox *m_terminalBox;
    QCheckBox *m_statusBox;
    QPushButton *m_okButton;
    QPushButton *m_cancelButton;
    QPushButton *m_setupButton;
};
