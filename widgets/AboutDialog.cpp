#include "widgets/AboutDialog.h"

#include "core/Prompter.h"
#include "link/KernelVersion.h"
#include "shell/AboutText.h"
#include "shell/DesktopShell.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>

namespace {
// Shows CR LF texts as lines.
QString lines(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QLabel *link(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}
} // namespace

QString howToPath()
{
    const QString relative = QStringLiteral("kernel/how to corvade.txt");
    const QDir binDir(QCoreApplication::applicationDirPath());
    const QString beside = binDir.filePath(relative);
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(binDir.filePath(QStringLiteral("../share/corvade/") + relative));
}

QStringList &AboutDialog::sysInfoPrograms()
{
    static QStringList programs = {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"),
                                   QStringLiteral("kinfocenter"), QStringLiteral("gnome-system-monitor"),
                                   QStringLiteral("lshw-gtk")};
    return programs;
}

AboutDialog::AboutDialog(const KernelVersion &kernel, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_prompter(prompter)
{
    setWindowTitle(AboutText::caption());
    setAttribute(Qt::WA_DeleteOnClose);

    auto *picIcon = new QLabel(this);
    picIcon->setPixmap(windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48)
                                             : windowIcon().pixmap(48));
    // The title's first line large, the notice line under it in the normal font.
    const QStringList title = AboutText::title().split(QStringLiteral("\r\n"));
    m_titleLabel = new QLabel(QStringLiteral("<span style=\"font-size:x-large; font-weight:bold\">%1</span><br>%2")
                                .arg(title.value(0).toHtmlEscaped(), title.value(1).toHtmlEscaped()),
                            this);
    m_titleLabel->setTextFormat(Qt::RichText);
    m_versionLabel = new QLabel(AboutText::version(QCoreApplication::applicationVersion()), this);
    m_descriptionLabel = new QLabel(lines(AboutText::description(kernel)), this);
    auto *lblDisclaimer = new QLabel(AboutText::disclaimer(), this);
    lblDisclaimer->setWordWrap(true);
    QLabel *lblEmail = link(QLatin1String(AboutText::ContactEmail), this);
    QLabel *lblWebPage = link(QLatin1String(AboutText::WebPage), this);
    connect(lblEmail, &QLabel::linkActivated, this, &AboutDialog::writeEmail);
    connect(lblWebPage, &QLabel::linkActivated, this, &AboutDialog::openWebPage);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *okButton = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton *cmdSysInfo = buttons->addButton(QStringLiteral("&System Info..."), QDialogButtonBox::ActionRole);
    okButton->setObjectName(QStringLiteral("cmdOk"));
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &AboutDialog::startSysInfo);

    auto *grid = new QGridLayout(this);
    grid->addWidget(picIcon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(m_titleLabel, 0, 1);
    grid->addWidget(m_versionLabel, 1, 1);
    grid->addWidget(m_descriptionLabel, 2, 1);
    grid->addWidget(lblDisclaimer, 3, 1);
    grid->addWidget(lblEmail, 4, 1);
    grid->addWidget(lblWebPage, 5, 1);
    grid->addWidget(buttons, 6, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}

AboutDialog::~AboutDialog() = default;

DesktopShell &AboutDialog::shell()
{
    if (!m_shell)
        m_shell = std::make_unique<DesktopShell>();
    return *m_shell;
}

void AboutDialog::writeEmail()
{
    shell().mailto(QLatin1String(AboutText::ContactEmail), QLatin1String(AboutText::MailSubject));
}

void AboutDialog::openWebPage()
{
    shell().runUrl(QLatin1String(AboutText::WebPage));
}

void AboutDialog::startSysInfo()
{
    for (const QString &program : sysInfoPrograms()) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && shell().runProgram(path, {}) == 1)
            return;
    }
    m_prompter.message(QStringLiteral("System Information Is Unavailable At This Time"));
}
