#pragma once
#include <QDialog>
#include <QStringList>
#include <memory>

class CExShell;
class KernelVersion;
class Prompter;
class QLabel;

// The About box: program and kernel versions, contact links and the system information tool.
class FrmAbout : public QDialog {
    Q_OBJECT
public:
    FrmAbout(const KernelVersion &kernel, Prompter &prompter, QWidget *parent = nullptr);
    ~FrmAbout() override;

    // Starts the first system information program found on the PATH, or says none can be.
    void StartSysInfo();
    // The programs tried, in order; tests shorten the list.
    static QStringList &SysInfoPrograms();

    QLabel *lblTitle() const { return m_lblTitle; }
    QLabel *lblVersion() const { return m_lblVersion; }
    QLabel *lblDescription() const { return m_lblDescription; }

private slots:
    void lblEmail_Click();
    void lblWebPage_Click();

private:
    CExShell &shell();

    Prompter &m_prompter;
    std::unique_ptr<CExShell> m_shell;
    QLabel *m_lblTitle;
    QLabel *m_lblVersion;
    QLabel *m_lblDescription;
};

// The how-to text: beside the binary in a build, under share/corvade when installed.
QString HowToPath();
