// PageControl: tabbed pages that tell a user's change of page (OnChange) from a change the
// program makes (SetActivePageIndex, adding or removing pages), which raises nothing. Qt's own
// setCurrentIndex/setCurrentWidget called directly count as the user's: use SetActivePageIndex.
#pragma once

#include <QTabWidget>

#include <functional>

class PageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit PageControl(QWidget* parent = nullptr);

    int ActivePageIndex() const { return currentIndex(); }
    void SetActivePageIndex(int index);

    // Raised when the user picks another page (tab click, keys in the tab bar or the pages).
    std::function<void(QObject* Sender)> OnChange;

protected:
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    void currentPageChanged();

    bool programChange_ = false;
    int knownCount_ = 0;   // page count as last seen complete; differs while pages come and go
};
