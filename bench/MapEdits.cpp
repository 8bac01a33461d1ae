// A whole row of a 36-site map moved one step: what the window thread spends on it (the edit
// planned, the cells and the chart redrawn, 36 writes queued and marked), and how long until
// the ECU has echoed every cell, on an unpaced line and on one paced at 19200 baud. Also the
// marks' bookkeeping for an upload of the whole image, without a window.
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "calibration/WriteMarks.h"
#include "ecu/LineOwner.h"
#include "ui/PageControl.h"
#include "ui/StringGrid.h"

namespace {

void Print(const char* what, const std::vector<double>& values, const char* unit)
{
    std::printf("%-52s median %9.1f %s, p90 %9.1f %s over %zu runs\n", what, bench::Median(values), unit,
                bench::Percentile(values, 0.9), unit, values.size());
}

// What the window spends on the marks of one echo of an upload: the mark taken off its cell or
// setting (the grids of the Ignition page shown). A job of the whole image is tracked as the
// upload's is, and its echoes are handed to the window as the line hands them.
void UploadEchoes(TForm1& form)
{
    std::vector<exchange::Step> steps;
    for (uint16_t a = 0; a < 500; ++a) steps.push_back({'W', a, form.EepromImage[a]});
    std::vector<double> perEcho;
    const uint32_t job = 0x7fff0000;   // far from the line's own job numbers
    for (int round = 0; round < 20; ++round) {
        // The job's steps become marks on screen as the upload's do when it is queued.
        form.ShowMarks(form.Marks.Track(job, steps));
        exchange::Event e{};
        e.type = exchange::Event::StepDone;
        e.job = job;
        e.kind = exchange::JobKind::Upload;
        e.step = steps[0];
        e.replyData = steps[0].data;
        form.TrackWrites(e);
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        for (std::size_t i = 1; i < steps.size(); ++i) {
            e.step = steps[i];
            e.stepIndex = i;
            e.replyData = steps[i].data;
            form.TrackWrites(e);
        }
        perEcho.push_back(t.nsecsElapsed() / 1e3 / double(steps.size() - 1));
        e.type = exchange::Event::JobDone;
        form.TrackWrites(e);
        QCoreApplication::processEvents();
    }
    Print("  one upload echo: its mark taken off in the window", perEcho, "us");
}

// Steps the whole of map 7 up and down `rounds` times; false when the ECU never confirmed.
bool StepRow(uint32_t baud, int rounds, const char* label)
{
    bench::SimFolder folder(baud);
    if (!folder.started) return false;
    TForm1 form;
    form.show();
    if (!bench::RunUntil([&] { return form.ReadPending == 0; }, 60000)) {
        std::fprintf(stderr, "the EEPROM read did not complete\n");
        return false;
    }
    form.PageControl1->SetActivePageIndex(2);   // Ignition, polling off
    form.PageControl1Change(form.PageControl1);
    bench::RunFor(50);
    StringGrid* grid = form.MapGrid[7];
    grid->SelectCols(0, 35);

    std::vector<double> handler, withRedraw, confirmed;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        form.StringGrid1Command(grid, i % 2 ? StringGrid::Command::StepDown : StringGrid::Command::StepUp);
        handler.push_back(t.nsecsElapsed() / 1e3);
        QCoreApplication::processEvents();   // the grid's and chart's repaints
        withRedraw.push_back(t.nsecsElapsed() / 1e3);
        if (!bench::RunUntil([&] { return form.Marks.Count(calibration::WriteMark::Pending) == 0; }, 20000)) {
            std::fprintf(stderr, "the echoes did not come\n");
            return false;
        }
        confirmed.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("%s\n", label);
    Print("  36-cell step: handler", handler, "us");
    Print("  36-cell step: handler + repaint", withRedraw, "us");
    Print("  36-cell step: until every echo is in", confirmed, "ms");
    if (baud == 0) UploadEchoes(form);
    folder.ecu.Stop();
    return true;
}

void UploadMarks()
{
    std::vector<exchange::Step> steps;
    for (uint16_t a = 0; a < 500; ++a) steps.push_back({'W', a, uint8_t(a)});
    std::vector<double> micros;
    size_t changes = 0;
    for (int round = 0; round < 200; ++round) {
        QElapsedTimer t;
        t.start();
        calibration::WriteMarks marks;
        changes += marks.Track(1, steps).size();
        exchange::Event e{};
        e.type = exchange::Event::StepDone;
        e.job = 1;
        e.kind = exchange::JobKind::Upload;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            e.step = steps[i];
            e.stepIndex = i;
            e.replyData = steps[i].data;
            changes += marks.Apply(e).size();
        }
        micros.push_back(t.nsecsElapsed() / 1e3);
    }
    Print("marks of a 500-byte upload: queued and all echoed", micros, "us");
    if (changes != 200u * 1000u) std::fprintf(stderr, "unexpected count of mark changes: %zu\n", changes);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!StepRow(0, 200, "unpaced line")) return 1;
    if (!StepRow(19200, 20, "line paced at 19200 baud")) return 1;
    UploadMarks();
    return 0;
}
