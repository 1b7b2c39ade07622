#pragma once
#include <QString>

// The four recent-file items of the File menu as the list sees them. The window implements
// it and only mirrors what it is told; tests record the calls.
class RecentFileMenu {
public:
    virtual ~RecentFileMenu() = default;
    // Items are hidden at start; once shown they are never hidden again.
    virtual void showRecentItem(int index) = 0;
    virtual void setRecentCaption(int index, const QString &caption) = 0;
};
