#pragma once
#include <QDialog>
#include <QStringList>
#include <memory>

class DesktopShell;
class KernelVersion;
class Prompter;
class QLabel;

// The About box: program and kernel versions, contact links and the system information tool.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const KernelVersion &kernel, Prompter &prompter, QWidget *parent = nullptr);
    ~AboutDialog() override;

    // Starts the first system information program found on the PATH, or says none can be.
    void startSysInfo();
    // The programs tried, in order; tests shorten the list.
    static QStringList &sysInfoPrograms();

    QLabel *titleLabel() const { return m_titleLabel; }
    QLabel *versionLabel() const { return m_versionLabel; }
    QLabel *descriptionLabel() const { return m_descriptionLabel; }

private slots:
    void writeEmail();
    void openWebPage();

private:
    DesktopShell &shell();

    Prompter &m_prompter;
    std::unique_ptr<DesktopShell> m_shell;
    QLabel *m_titleLabel;
    QLabel *m_versionLabel;
    QLabel *m_descriptionLabel;
};

// The how-to text: beside the binary in a build, under share/corvade when installed.
QString howToPath();
