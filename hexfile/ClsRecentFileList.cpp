#include "hexfile/ClsRecentFileList.h"

#include "app/ClsGlobalState.h"
#include "hexfile/RecentFileMenu.h"

#include <QtGlobal>

namespace {

bool inRange(int Index)
{
    return Index >= 0 && Index < clsRecentFileList::Size;
}

} // namespace

void clsRecentFileList::Add(const QString &Path)
{
    // Entry 0 starts empty, so this also keeps an empty path out.
    if (Path == m_entries[0].Path)
        return;
    for (int i = m_lastIndex; i >= 1; --i)
        m_entries[i] = m_entries[i - 1];
    m_visible[m_lastIndex] = true;
    if (m_menu)
        m_menu->showRecentItem(m_lastIndex);
    if (m_lastIndex < Size - 1)
        ++m_lastIndex;
    m_entries[0] = {FileNameOf(Path), Path};
    if (m_menu) {
        for (int i = 0; i <= m_lastIndex; ++i)
            m_menu->setRecentCaption(i, m_entries[i].FileName);
    }
}

QString clsRecentFileList::GetPath(int Index) const
{
    Q_ASSERT(inRange(Index));
    return inRange(Index) ? m_entries[Index].Path : QString();
}

QString clsRecentFileList::Caption(int Index) const
{
    return inRange(Index) ? m_entries[Index].FileName : QString();
}

bool clsRecentFileList::ItemVisible(int Index) const
{
    return inRange(Index) && m_visible[Index];
}
