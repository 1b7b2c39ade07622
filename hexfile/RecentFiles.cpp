#include "hexfile/RecentFiles.h"

#include "core/Readiness.h"
#include "hexfile/RecentFileMenu.h"

#include <QtGlobal>

namespace {

bool inRange(int index)
{
    return index >= 0 && index < RecentFiles::Size;
}

} // namespace

void RecentFiles::add(const QString &path)
{
    // Entry 0 starts empty, so this also keeps an empty path out.
    if (path == m_entries[0].path)
        return;
    for (int i = m_lastIndex; i >= 1; --i)
        m_entries[i] = m_entries[i - 1];
    m_visible[m_lastIndex] = true;
    if (m_menu)
        m_menu->showRecentItem(m_lastIndex);
    if (m_lastIndex < Size - 1)
        ++m_lastIndex;
    m_entries[0] = {fileNameOf(path), path};
    if (m_menu) {
        for (int i = 0; i <= m_lastIndex; ++i)
            m_menu->setRecentCaption(i, m_entries[i].fileName);
    }
}

QString RecentFiles::pathAt(int index) const
{
    Q_ASSERT(inRange(index));
    return inRange(index) ? m_entries[index].path : QString();
}

QString RecentFiles::caption(int index) const
{
    return inRange(index) ? m_entries[index].fileName : QString();
}

bool RecentFiles::itemVisible(int index) const
{
    return inRange(index) && m_visible[index];
}
