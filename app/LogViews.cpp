// How the Logging page shows the log: the one chart of every shown channel, a lane per channel,
// or one channel against another. The choice is the user's and is remembered.
#include <QComboBox>
#include <QLabel>

#include "app/Mainform.h"
#include "base/UserSettings.h"
#include "ui/LogChart.h"

namespace {

const QString kViewKey = QStringLiteral("logViewer/view");
// The remembered texts, by LogView; a text not among them (a later version's view) is the one chart.
const char* const kViewNames[] = {"chart", "lanes", "scatter"};
constexpr int kViewTop = 521;
constexpr int kViewRight = 772;

}  // namespace

void TForm1::BuildLogViews(QWidget* page)
{
    cmbLogView = new QComboBox(page);
    cmbLogView->setObjectName(QStringLiteral("cmbLogView"));
    cmbLogView->setAccessibleName(QStringLiteral("View"));
    cmbLogView->setToolTip(QStringLiteral("How the log is shown: every channel in one chart, each in a lane of its own, "
                                          "or one channel against another"));
    cmbLogView->addItem(QStringLiteral("One chart"));
    cmbLogView->addItem(QStringLiteral("Lanes"));
    const int width = std::max(120, cmbLogView->sizeHint().width());
    cmbLogView->setGeometry(kViewRight - width, kViewTop, width, 25);
    const QString remembered = base::UserSettings().value(kViewKey).toString();
    for (int v = 0; v < cmbLogView->count(); ++v)
        if (remembered == QLatin1String(kViewNames[v])) cmbLogView->setCurrentIndex(v);
    connect(cmbLogView, &QComboBox::currentIndexChanged, this, [this] { cmbLogViewChange(cmbLogView); });
    Chart10->SetLanes(CurrentLogView() == LogView::Lanes);
}

TForm1::LogView TForm1::CurrentLogView() const
{
    return cmbLogView ? LogView(std::max(cmbLogView->currentIndex(), 0)) : LogView::OneChart;
}

void TForm1::cmbLogViewChange(QObject*)
{
    const LogView view = CurrentLogView();
    base::UserSettings().setValue(kViewKey, QLatin1String(kViewNames[int(view)]));
    Chart10->SetLanes(view == LogView::Lanes);
}
