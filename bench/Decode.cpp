// Button10Click, the decode of the whole image onto the twelve maps, their charts and the
// twenty-five settings: the handler alone, and the handler with the redraw of the shown page.
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "ui/PageControl.h"

namespace {

void Print(const char* what, const std::vector<double>& micros)
{
    std::printf("%-40s median %8.1f us, p90 %8.1f us over %zu runs\n", what, bench::Median(micros),
                bench::Percentile(micros, 0.9), micros.size());
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::SimFolder folder;
    if (!folder.started) return 1;
    TForm1 form;
    form.show();
    if (!bench::RunUntil([&] { return form.ReadPending == 0; }, 20000)) {
        std::fprintf(stderr, "the EEPROM read did not complete\n");
        return 1;
    }
    form.PageControl1->SetActivePageIndex(0);   // the Temp page shown, polling off
    form.PageControl1Change(form.PageControl1);
    QCoreApplication::processEvents();

    const int rounds = 300;
    std::vector<double> handler, withRedraw;
    for (int i = 0; i < rounds; ++i) {
        // A different image each time, so every cell and point really changes.
        for (int a = 0; a < 500; ++a) form.EepromImage[std::size_t(a)] = uint8_t(a + i);
        form.EepromImage[454] = (i % 2) * 20;
        QElapsedTimer t;
        t.start();
        form.Button10Click(nullptr);
        handler.push_back(t.nsecsElapsed() / 1e3);
        QCoreApplication::processEvents();   // the queued replots and repaints of the shown page
        withRedraw.push_back(t.nsecsElapsed() / 1e3);
    }
    Print("Button10Click", handler);
    Print("Button10Click + redraw of the Temp page", withRedraw);
    folder.ecu.Stop();
    return 0;
}
