// A second log beside the one on display, to compare two drives: drawn in the same plots, lighter
// and dashed, aligned at the starts or at a sample picked in each. It is for looking only: the
// readout, Save, the exports, the scatter, the cell table, the fuel assistant and a log's
// calibration all stay with the first log, which is the chart's series; the second is the
// chart's and nobody else's.
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "app/Mainform.h"
#include "logging/LogFile.h"
#include "logging/LogLoad.h"
#include "logging/LogViewer.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"

void TForm1::BuildSecondLog(QWidget* page)
{
    btnSecondLog = new QPushButton(QStringLiteral("Second log"), page);
    btnSecondLog->setObjectName(QStringLiteral("btnSecondLog"));
    btnSecondLog->setAccessibleName(QStringLiteral("Second log"));
    btnSecondLog->setToolTip(QStringLiteral("Load a second log beside this one to compare two drives; it is for viewing only"));
    auto* menu = new QMenu(btnSecondLog);
    menu->setObjectName(QStringLiteral("mnuSecondLog"));
    btnSecondLog->setMenu(menu);

    // The keys act anywhere on the Logging page, the chart and the slider included.
    auto action = [page, menu](const char* name, const QString& text, const QKeySequence& key) {
        auto* a = new QAction(text, page);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        page->addAction(a);
        menu->addAction(a);
        return a;
    };
    actSecondLogLoad = action("actSecondLogLoad", QStringLiteral("Load a second log…"), QKeySequence(QStringLiteral("Ctrl+Shift+O")));
    menu->addSeparator();
    actSecondLogAlign = action("actSecondLogAlign", QStringLiteral("Align at the picked samples"), QKeySequence(QStringLiteral("Ctrl+Shift+A")));
    actSecondLogAlign->setToolTip(QStringLiteral("The second log's sample picked by a click on its line moves to the cursor "
                                                 "(the first log's sample picked by a click or the slider)"));
    actSecondLogStarts = action("actSecondLogStarts", QStringLiteral("Align at the starts"), QKeySequence(QStringLiteral("Ctrl+Shift+Home")));
    const struct {
        const char* name;
        const char* text;
        const char* key;
        int samples;
    } moves[] = {
        {"actSecondLogEarlier", "A sample earlier", "Alt+Left", -1},
        {"actSecondLogLater", "A sample later", "Alt+Right", 1},
        {"actSecondLogEarlier10", "Ten samples earlier", "Alt+Shift+Left", -10},
        {"actSecondLogLater10", "Ten samples later", "Alt+Shift+Right", 10},
    };
    for (size_t i = 0; i < std::size(moves); ++i) {
        QAction* a = action(moves[i].name, QLatin1String(moves[i].text), QKeySequence(QLatin1String(moves[i].key)));
        const int samples = moves[i].samples;
        connect(a, &QAction::triggered, this, [this, samples] { SecondLogMove(samples); });
        actSecondLogMove[i] = a;
    }
    menu->addSeparator();
    actSecondLogClose = action("actSecondLogClose", QStringLiteral("Close the second log"), QKeySequence());
    connect(actSecondLogLoad, &QAction::triggered, this, [this] { SecondLogLoad(); });
    connect(actSecondLogAlign, &QAction::triggered, this, [this] { SecondLogAlign(true); });
    connect(actSecondLogStarts, &QAction::triggered, this, [this] { SecondLogAlign(false); });
    connect(actSecondLogClose, &QAction::triggered, this, [this] { SecondLogClose(); });

    // In the row under the check boxes, left of the log's calibration; the sample's caption
    // keeps the space before it.
    const int width = btnSecondLog->sizeHint().width();
    const QRect caption = lblSampleTime->geometry();
    btnSecondLog->setGeometry(caption.right() + 1 - width, caption.top(), width, caption.height());
    lblSampleTime->setGeometry(caption.adjusted(0, 0, -width - 8, 0));

    Chart10->SecondHoverText = [this](int series, int index) { return logging::SecondHoverText(*Chart10, series, index); };
    Chart10->OnSecondClick = [this](int, int index) {
        SecondLogPicked = index;
        Chart10->SetSecondCursor(index);
        SecondLogChanged();
    };
    SecondLogChanged();
}

void TForm1::SecondLogLoad()
{
    // Refused (or too big for what memory is left beside the first log), the second log shown so
    // far, if any, stays.
    QString path;
    std::optional<logging::LogLoadResult> read = ChooseAndReadLog(&path);
    if (!read) return;
    logging::LogLoadResult& load = *read;
    const QString shortfall = logging::LoadShortfallMessage(path, load, Chart10->SeriesCount());
    Chart10->SetSecondLog(std::move(load.samples.series));
    SecondLogName = QFileInfo(path).fileName();
    SecondLogPicked = -1;
    Chart10->UndoZoom();   // both logs in view
    SecondLogChanged();
    if (!shortfall.isEmpty()) ui::ShowWarning(this, shortfall);
}

void TForm1::SecondLogAlign(bool atPicked)
{
    if (!Chart10->HasSecondLog()) return;
    // Without a pick, a log's own start stands in for it.
    const int first = atPicked ? std::max(Chart10->CursorIndex(), 0) : 0;
    const int second = atPicked ? std::max(SecondLogPicked, 0) : 0;
    Chart10->SetSecondShift(first - second);
    SecondLogChanged();
}

void TForm1::SecondLogMove(int samples)
{
    if (!Chart10->HasSecondLog()) return;
    Chart10->SetSecondShift(Chart10->SecondShift() + samples);
    SecondLogChanged();
}

void TForm1::SecondLogClose()
{
    Chart10->ClearSecondLog();
    SecondLogName.clear();
    SecondLogPicked = -1;
    Chart10->UndoZoom();
    SecondLogChanged();
}

void TForm1::SecondLogChanged()
{
    const bool shown = Chart10->HasSecondLog();
    for (QAction* a : {actSecondLogAlign, actSecondLogStarts, actSecondLogClose}) a->setEnabled(shown);
    for (QAction* a : actSecondLogMove) a->setEnabled(shown);
    // Where the second log starts, on the first log's clock; past the first log's end that runs
    // on at the nominal cycle.
    const int shift = Chart10->SecondShift();
    const int last = logging::SampleCount(*Chart10) - 1;
    const int64_t startMs = shift <= last ? Log.Times().Milliseconds(shift)
                                          : Log.Times().Milliseconds(std::max(last, 0)) + int64_t(shift - std::max(last, 0)) * logging::kNominalCycleMs;
    Chart10->SetSecondCaption(shown ? logging::SecondLogCaption(SecondLogName, shift, startMs, SecondLogPicked) : QString());
}
