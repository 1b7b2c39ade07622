#include "core/Readiness.h"

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

Readiness::Readiness(ReadinessView *view) : m_view(view)
{
    setFileNotReady();
    setSerialNotReady();
}

// The steps below keep the order in which the window sees them: caption first, then the
// recent list, then the menu, and the flag last.
void Readiness::setFileNotReady()
{
    if (m_view) {
        m_view->setCaption(QLatin1String(Title) + QLatin1String(" - No File loaded"));
        m_view->setKernelMenuEnabled(false);
    }
    m_fileReady = false;
}

void Readiness::setFileReady(const QString &path)
{
    if (m_view) {
        m_view->setCaption(QLatin1String(Title) + QLatin1String(" - ") + fileNameOf(path));
        m_view->addRecentFile(path);
        if (m_serielReady)
            m_view->setKernelMenuEnabled(true);
    }
    m_fileReady = true;
}

void Readiness::setSerialReady()
{
    if (m_view && m_fileReady)
        m_view->setKernelMenuEnabled(true);
    m_serielReady = true;
}

void Readiness::setSerialNotReady()
{
    if (m_view)
        m_view->setKernelMenuEnabled(false);
    m_serielReady = false;
}
