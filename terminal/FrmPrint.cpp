#include "terminal/FrmPrint.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

bool ShowPrinterSetup(QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Printer setup"));
    // Only the printer and its settings are chosen here; what to print is frmPrint's.
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    return dialog.exec() == QDialog::Accepted;
}

FrmPrint::FrmPrint(WindowPrinter &printer, PrintSources sources, QWidget *parent)
    : QDialog(parent),
      m_printer(printer),
      m_sources(std::move(sources)),
      m_chkTerminal(new QCheckBox(QStringLiteral("Print &Terminal window"), this)),
      m_chkStatus(new QCheckBox(QStringLiteral("Print St&atus window"), this)),
      m_cmdOk(new QPushButton(QStringLiteral("OK"), this)),
      m_cmdCancel(new QPushButton(QStringLiteral("Cancel"), this)),
      m_cmdSetup(new QPushButton(QStringLiteral("&Setup..."), this))
{
    setWindowTitle(QStringLiteral("Print"));
    setModal(true);
    m_chkTerminal->setObjectName(QStringLiteral("chkTerminal"));
    m_chkStatus->setObjectName(QStringLiteral("chkStatus"));
    m_cmdOk->setObjectName(QStringLiteral("cmdOk"));
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdSetup->setObjectName(QStringLiteral("cmdSetup"));
    m_chkTerminal->setChecked(true);
    m_chkStatus->setChecked(false);
    m_cmdOk->setDefault(true);

    auto *choices = new QVBoxLayout;
    choices->addWidget(m_chkTerminal);
    choices->addWidget(m_chkStatus);
    choices->addStretch();
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_cmdOk);
    buttons->addWidget(m_cmdCancel);
    buttons->addSpacing(12);
    buttons->addWidget(m_cmdSetup);
    buttons->addStretch();
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(choices, 1);
    layout->addSpacing(16);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_cmdOk, &QPushButton::clicked, this, &FrmPrint::accept);
    connect(m_cmdCancel, &QPushButton::clicked, this, &FrmPrint::reject);
    connect(m_cmdSetup, &QPushButton::clicked, this, &FrmPrint::cmdSetup_Click);
}

void FrmPrint::accept()
{
    m_printer.PrintWindows(m_sources, m_chkTerminal->isChecked(), m_chkStatus->isChecked());
    QDialog::accept();
}

void FrmPrint::cmdSetup_Click()
{
    if (m_setup)
        m_setup(m_printer.printer(), this);
}
