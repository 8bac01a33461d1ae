#include "ui/PageControl.h"

PageControl::PageControl(QWidget* parent) : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, [this] { currentPageChanged(); });
}

void PageControl::SetActivePageIndex(int index)
{
    const bool outer = programChange_;
    programChange_ = true;
    setCurrentIndex(index);
    programChange_ = outer;
}

void PageControl::tabInserted(int index)
{
    knownCount_ = count();
    QTabWidget::tabInserted(index);
}

void PageControl::tabRemoved(int index)
{
    knownCount_ = count();
    QTabWidget::tabRemoved(index);
}

void PageControl::currentPageChanged()
{
    // Qt moves the current page while a page is being added or removed, before it tells us of
    // the new page (tabInserted/tabRemoved); such a move is the program's doing.
    if (programChange_ || count() != knownCount_) return;
    if (OnChange) OnChange(this);
}
