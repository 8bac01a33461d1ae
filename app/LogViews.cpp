// How the Logging page shows the log: the one chart of every shown channel, a lane per channel,
// or one channel against another. The choices are the user's and are remembered.
#include <QComboBox>
#include <QLabel>

#include <cmath>

#include "app/Mainform.h"
#include "base/UserSettings.h"
#include "logging/LogViewer.h"
#include "ui/LogChart.h"
#include "ui/ScatterPlot.h"

namespace {

const QString kViewKey = QStringLiteral("logViewer/view");
// The remembered texts, by LogView; a text not among them (a later version's view) is the one chart.
const char* const kViewNames[] = {"chart", "lanes", "scatter"};
const char* const kScatterKeys[] = {"logViewer/scatterX", "logViewer/scatterY", "logViewer/scatterColour"};
const char* const kScatterNames[] = {"cmbScatterX", "cmbScatterY", "cmbScatterColour"};
const char* const kScatterAccessible[] = {"Scatter x channel", "Scatter y channel", "Scatter colour channel"};
const char* const kScatterLabels[] = {"x:", "y:", "colour:"};
constexpr int kScatterDefaults[] = {0, 10, 6};   // engine speed, manifold pressure, lambda
constexpr int kViewTop = 521;
constexpr int kViewRight = 772;
const QRect kChartPlace(16, 56, 750, 377);
constexpr int kChooserHeight = 24;

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
    cmbLogView->addItem(QStringLiteral("Scatter"));
    const int width = std::max(120, cmbLogView->sizeHint().width());
    cmbLogView->setGeometry(kViewRight - width, kViewTop, width, 25);
    const QString remembered = base::UserSettings().value(kViewKey).toString();
    for (int v = 0; v < cmbLogView->count(); ++v)
        if (remembered == QLatin1String(kViewNames[v])) cmbLogView->setCurrentIndex(v);
    connect(cmbLogView, &QComboBox::currentIndexChanged, this, [this] { cmbLogViewChange(cmbLogView); });

    // The scatter stands where the chart does, its three choosers in a row above the plot.
    chartScatter = new ScatterPlot(page);
    chartScatter->setObjectName(QStringLiteral("chartScatter"));
    chartScatter->setAccessibleName(QStringLiteral("Scatter plot"));
    chartScatter->setGeometry(kChartPlace.adjusted(0, kChooserHeight, 0, 0));
    chartScatter->Format = [](ScatterPlot::Role, double) { return QString(); };
    int left = kChartPlace.left();
    const QSettings settings = base::UserSettings();
    for (int r = 0; r < 3; ++r) {
        auto* label = new QLabel(QLatin1String(kScatterLabels[r]), page);
        label->setObjectName(QStringLiteral("lbl") + QLatin1String(kScatterNames[r] + 3));
        label->setGeometry(left, kChartPlace.top(), label->sizeHint().width() + 4, kChooserHeight - 2);
        left = label->geometry().right() + 1;
        auto* box = new QComboBox(page);
        box->setObjectName(QLatin1String(kScatterNames[r]));
        box->setAccessibleName(QLatin1String(kScatterAccessible[r]));
        for (int k = 0; k < logging::kLogChannelCount; ++k) box->addItem(logging::NameWithUnit(k));
        const int chosen = settings.value(QLatin1String(kScatterKeys[r]), kScatterDefaults[r]).toInt();
        box->setCurrentIndex(chosen >= 0 && chosen < logging::kLogChannelCount ? chosen : kScatterDefaults[r]);
        box->setGeometry(left, kChartPlace.top(), 150, kChooserHeight - 2);
        label->setBuddy(box);
        left = box->geometry().right() + 12;
        cmbScatter[size_t(r)] = box;
        connect(box, &QComboBox::currentIndexChanged, this, [this, box] { cmbScatterChange(box); });
    }
    chartScatter->Format = [this](ScatterPlot::Role role, double value) {
        const int k = cmbScatter[size_t(role)]->currentIndex();
        QString text = logging::ReadoutText(k, value);
        const QString unit = logging::DisplayUnit(k);
        return unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
    };
    cmbScatterChange(nullptr);
    // Points follow the time view: what it is zoomed to is what the scatter shows.
    connect(Chart10->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] { RefreshScatter(); });
    ShowLogView();
}

TForm1::LogView TForm1::CurrentLogView() const
{
    return cmbLogView ? LogView(std::max(cmbLogView->currentIndex(), 0)) : LogView::OneChart;
}

void TForm1::cmbLogViewChange(QObject*)
{
    base::UserSettings().setValue(kViewKey, QLatin1String(kViewNames[int(CurrentLogView())]));
    ShowLogView();
}

void TForm1::ShowLogView()
{
    const LogView view = CurrentLogView();
    const bool scatter = view == LogView::Scatter;
    Chart10->SetLanes(view == LogView::Lanes);
    Chart10->setVisible(!scatter);
    chartScatter->setVisible(scatter);
    for (QComboBox* box : cmbScatter) {
        box->setVisible(scatter);
        if (QWidget* label = Control<QLabel>(QStringLiteral("lbl") + box->objectName().mid(3))) label->setVisible(scatter);
    }
    RefreshScatter();
}

void TForm1::cmbScatterChange(QObject* Sender)
{
    for (int r = 0; r < 3; ++r) {
        const int k = cmbScatter[size_t(r)]->currentIndex();
        chartScatter->SetChannel(ScatterPlot::Role(r), {&Chart10->Column(k), logging::NameWithUnit(k), logging::ReadoutShift(k)});
        if (Sender == cmbScatter[size_t(r)]) base::UserSettings().setValue(QLatin1String(kScatterKeys[r]), k);
    }
    RefreshScatter();
}

void TForm1::RefreshScatter()
{
    if (!chartScatter || CurrentLogView() != LogView::Scatter) return;
    const int samples = logging::SampleCount(*Chart10);
    int from = 0, to = samples;
    if (Chart10->Zoomed()) {
        const QCPRange range = Chart10->xAxis->range();
        from = std::clamp(int(std::ceil(range.lower)), 0, samples);
        to = std::clamp(int(std::floor(range.upper)) + 1, from, samples);
    }
    chartScatter->SetSampleRange(from, to);
    chartScatter->Refresh();
}
