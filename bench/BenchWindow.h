// The window as the benches drive it: a page shown as a click on its tab shows it, and a start
// that waits for the first read of the calibration.
#pragma once

#include <cstdio>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "ui/PageControl.h"

namespace bench {

inline void ShowPage(TForm1& form, int page)
{
    form.PageControl1->SetActivePageIndex(page);
    form.PageControl1Change(form.PageControl1);
}

// Shows the window over the simulator of `folder` and waits until the calibration is read.
inline bool StartWindow(SimFolder& folder, TForm1& form)
{
    if (!folder.started) return false;
    form.show();
    if (!RunUntil([&] { return form.ReadPending == 0; }, 60000)) {
        std::fprintf(stderr, "the first read did not complete\n");
        return false;
    }
    return true;
}

}  // namespace bench
