#include "widgets/QtPrompter.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {
const QString kTitle = QStringLiteral("Corvade");

QMessageBox::Icon toQt(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Information: return QMessageBox::Information;
    case Prompter::Icon::Exclamation: return QMessageBox::Warning;
    case Prompter::Icon::Critical: return QMessageBox::Critical;
    case Prompter::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QString qtFileFilter(const QString &pipeFilter)
{
    // Pairs of description and pattern; Qt shows the patterns from the description.
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (parts[i].contains(pattern))
            filters << parts[i];
        else
            filters << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

void QtPrompter::message(const QString &text, Icon icon)
{
    QMessageBox box(toQt(icon), kTitle, text, QMessageBox::Ok, m_parent);
    box.exec();
}

Prompter::Answer QtPrompter::abortRetryIgnore(const QString &text, Answer defaultButton)
{
    QMessageBox box(QMessageBox::Warning, kTitle, text,
                    QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, m_parent);
    box.setDefaultButton(defaultButton == Answer::Retry    ? QMessageBox::Retry
                         : defaultButton == Answer::Abort ? QMessageBox::Abort
                                                          : QMessageBox::Ignore);
    // Closing the box is not the Abort that ends the program at once: it goes on without.
    box.setEscapeButton(QMessageBox::Ignore);
    switch (box.exec()) {
    case QMessageBox::Abort: return Answer::Abort;
    case QMessageBox::Retry: return Answer::Retry;
    default: return Answer::Ignore;
    }
}

QString QtPrompter::openFileName(const QString &title, const QString &filter, const QString &name)
{
    return QFileDialog::getOpenFileName(m_parent, title, name, qtFileFilter(filter));
}

QString QtPrompter::saveFileName(const QString &title, const QString &filter, const QString &name)
{
    return QFileDialog::getSaveFileName(m_parent, title, name, qtFileFilter(filter));
}
