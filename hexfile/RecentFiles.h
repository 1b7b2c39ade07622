#pragma once
#include <QString>

#include <array>

class RecentFileMenu;

// The HEX files loaded most recently, newest first. Only the top entry is compared when a
// path is added, so a file further down can stand in the list twice.
class RecentFiles {
public:
    static constexpr int Size = 4;

    struct RecentEntry {
        QString fileName;
        QString path;
    };

    explicit RecentFiles(RecentFileMenu *menu = nullptr) : m_menu(menu) {}

    // The menu is told about later changes only; itemVisible and Caption give the state so far.
    void setMenu(RecentFileMenu *menu) { m_menu = menu; }

    void add(const QString &path);
    // Empty for an entry never filled, and for an index outside 0..3.
    QString pathAt(int index) const;

    QString caption(int index) const;
    bool itemVisible(int index) const;
    // The index of the item the next Add shows; stays at 3 once the list is full.
    int lastIndex() const { return m_lastIndex; }

private:
    std::array<RecentEntry, Size> m_entries;
    std::array<bool, Size> m_visible{};
    int m_lastIndex = 0;
    RecentFileMenu *m_menu;
};
