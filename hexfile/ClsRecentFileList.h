#pragma once
#include <QString>

#include <array>

class RecentFileMenu;

// The HEX files loaded most recently, newest first. Only the top entry is compared when a
// path is added, so a file further down can stand in the list twice.
class clsRecentFileList {
public:
    static constexpr int Size = 4;

    struct RecentEntry {
        QString FileName;
        QString Path;
    };

    explicit clsRecentFileList(RecentFileMenu *menu = nullptr) : m_menu(menu) {}

    // The menu is told about later changes only; ItemVisible and Caption give the state so far.
    void setMenu(RecentFileMenu *menu) { m_menu = menu; }

    void Add(const QString &Path);
    // Empty for an entry never filled, and for an index outside 0..3.
    QString GetPath(int Index) const;

    QString Caption(int Index) const;
    bool ItemVisible(int Index) const;
    // The index of the item the next Add shows; stays at 3 once the list is full.
    int LastIndex() const { return m_lastIndex; }

private:
    std::array<RecentEntry, Size> m_entries;
    std::array<bool, Size> m_visible{};
    int m_lastIndex = 0;
    RecentFileMenu *m_menu;
};
