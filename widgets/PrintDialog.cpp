#include "widgets/PrintDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

bool showPrinterSetup(QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Printer setup"));
    // Only the printer and its settings are chosen here; what to print is the print dialog's.
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    return dialog.exec() == QDialog::Accepted;
}

PrintDialog::PrintDialog(WindowPrinter &printer, PrintSources sources, QWidget *parent)
    : QDialog(parent),
      m_printer(printer),
      m_sources(std::move(sources)),
      m_terminalBox(new QCheckBox(QStringLiteral("Print &Terminal window"), this)),
      m_statusBox(new QCheckBox(QStringLiteral("Print St&atus window"), this)),
      m_okButton(new QPushButton(QStringLiteral("OK"), this)),
      m_cancelButton(new QPushButton(QStringLiteral("Cancel"), this)),
      m_setupButton(new QPushButton(QStringLiteral("&Setup..."), this))
{
    setWindowTitle(QStringLiteral("Print"));
    setModal(true);
    m_terminalBox->setObjectName(QStringLiteral("chkTerminal"));
    m_statusBox->setObjectName(QStringLiteral("chkStatus"));
    m_okButton->setObjectName(QStringLiteral("cmdOk"));
    m_cancelButton->setObjectName(QStringLiteral("cmdCancel"));
    m_setupButton->setObjectName(QStringLiteral("cmdSetup"));
    m_terminalBox->setChecked(true);
    m_statusBox->setChecked(false);
    m_okButton->setDefault(true);

    auto *choices = new QVBoxLayout;
    choices->addWidget(m_terminalBox);
    choices->addWidget(m_statusBox);
    choices->addStretch();
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    buttons->addSpacing(12);
    buttons->addWidget(m_setupButton);
    buttons->addStretch();
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(choices, 1);
    layout->addSpacing(16);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_okButton, &QPushButton::clicked, this, &PrintDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &PrintDialog::reject);
    connect(m_setupButton, &QPushButton::clicked, this, &PrintDialog::setUpPrinter);
}

void PrintDialog::accept()
{
    m_printer.printWindows(m_sources, m_terminalBox->isChecked(), m_statusBox->isChecked());
    QDialog::accept();
}

void PrintDialog::setUpPrinter()
{
    if (m_setup)
        m_setup(m_printer.printer(), this);
}
