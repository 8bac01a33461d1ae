// The system's default beep, with a count of beeps sounded so far for tests to watch.
#pragma once

namespace ui {

void Beep();
int BeepCount();

}  // namespace ui
