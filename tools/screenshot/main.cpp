// Writes a PNG of every page of the window, as a person would see it against the simulated
// ECU: the window starts, reads the calibration, polls live values for a moment, and each
// page is grabbed in turn. Offscreen grabs give the same pixels as a screen.
//   quenrix-screenshot OUTDIR [--log-seconds N] [--all-channels] [--view NAME] [--size WxH]
// --log-seconds: how long the log is recorded (default 4); --all-channels: the Logging page with
// all fourteen channels shown; --view: the log shown as "chart", "lanes", "scatter" or "cells"
// for these pictures only (the user's remembered choice stays); --size: the window's size.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Application.h"
#include "app/Mainform.h"
#include "tools/ecu-sim/EcuSim.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"

namespace {

void pump(int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake;
    wake.start(1);
    while (elapsed.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuenrixApplication app(argc, argv);   // the program's own, so the window gets its font
    if (argc < 2) {
        std::fprintf(stderr, "usage: quenrix-screenshot OUTDIR [--log-seconds N] [--all-channels]\n");
        return 2;
    }
    int logSeconds = 4;
    bool allChannels = false;
    int view = -1;
    QSize size;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--log-seconds") == 0 && i + 1 < argc) logSeconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--all-channels") == 0) allChannels = true;
        else if (std::strcmp(argv[i], "--view") == 0 && i + 1 < argc) {
            const std::string name = argv[++i];
            const char* const views[] = {"chart", "lanes", "scatter", "cells"};
            view = int(std::find(std::begin(views), std::end(views), name) - std::begin(views));
            if (view == 4) {
                std::fprintf(stderr, "--view: one of chart, lanes, scatter, cells\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            int w = 0, h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) {
                std::fprintf(stderr, "--size: WIDTHxHEIGHT, for example 1280x900\n");
                return 2;
            }
            size = QSize(w, h);
        }
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    // The window looks for COM1 in the folder it starts from: work in a scratch folder.
    const QString work = QDir::temp().filePath(QStringLiteral("quenrix-screenshot-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(work);
    QDir::setCurrent(work);
    // The simulator's calibrations are no engine's: their restore points stay in the scratch folder.
    calibration::SetRestorePointFolder(QDir(work).filePath(QStringLiteral("restore points")));

    sim::SimOptions options;
    options.link = QDir(work).filePath(QStringLiteral("COM1")).toStdString();
    sim::EcuSim ecu(options);
    std::string error;
    if (!ecu.Start(&error)) {
        std::fprintf(stderr, "simulated ECU: %s\n", error.c_str());
        return 1;
    }
    int status = 0;
    {
        TForm1 form;
        form.show();
        QElapsedTimer elapsed;
        elapsed.start();
        while (form.ReadPending && elapsed.elapsed() < 10000) pump(20);
        form.Button1Click(nullptr);   // record a short log while the gauges move
        pump(logSeconds * 1000);
        form.Button2Click(nullptr);
        if (allChannels)
            for (QCheckBox* box : form.ChannelBox) box->setChecked(true);
        if (view >= 0) {
            const QSignalBlocker quiet(form.cmbLogView);   // not remembered as the user's choice
            form.cmbLogView->setCurrentIndex(view);
            form.ShowLogView();
        }
        if (size.isValid()) form.resize(size);
        form.TrackBar1->setValue(form.TrackBar1->maximum() * 2 / 3);   // a sample in the readout row
        const char* names[7] = {"temp", "fuel", "ignition", "gauges", "logging", "setup", "boost"};
        for (int page : {3, 0, 1, 2, 4, 5, 6}) {
            form.PageControl1->SetActivePageIndex(page);
            pump(300);
            const QString file = QDir(out).filePath(QStringLiteral("%1-%2.png").arg(page + 1).arg(QLatin1String(names[page])));
            if (!form.grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                status = 1;
            } else {
                std::printf("%s\n", qPrintable(file));
            }
        }
        // The recorded log was never saved: the tool, not a person, says it may go.
        ui::SetQuestionHook([](const QString&, const QString&, const QString&) { return true; });
        form.close();
    }
    ecu.Stop();
    QDir(work).removeRecursively();
    return status;
}
