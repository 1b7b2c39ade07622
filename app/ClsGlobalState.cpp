#include "app/ClsGlobalState.h"

QString FileNameOf(const QString &Path)
{
    return Path.mid(Path.lastIndexOf(QLatin1Char('/')) + 1);
}

ClsGlobalState::ClsGlobalState(ReadinessView *view) : m_view(view)
{
    FileNotReadyMode();
    SerielNotReadyMode();
}

// The steps below keep the order in which the window sees them: caption first, then the
// recent list, then the menu, and the flag last.
void ClsGlobalState::FileNotReadyMode()
{
    if (m_view) {
        m_view->setCaption(QLatin1String(Title) + QLatin1String(" - No File loaded"));
        m_view->setKernelMenuEnabled(false);
    }
    m_fileReady = false;
}

void ClsGlobalState::FileReadyMode(const QString &Path)
{
    if (m_view) {
        m_view->setCaption(QLatin1String(Title) + QLatin1String(" - ") + FileNameOf(Path));
        m_view->addRecentFile(Path);
        if (m_serielReady)
            m_view->setKernelMenuEnabled(true);
    }
    m_fileReady = true;
}

void ClsGlobalState::SerielReadyMode()
{
    if (m_view && m_fileReady)
        m_view->setKernelMenuEnabled(true);
    m_serielReady = true;
}

void ClsGlobalState::SerielNotReadyMode()
{
    if (m_view)
        m_view->setKernelMenuEnabled(false);
    m_serielReady = false;
}
