// The map pages (Temp, Fuel, Ignition, Boost): grids and charts built from the map table,
// the decode of the whole image onto every page, and the grids' Enter handler.
#include "app/Mainform.h"

void TForm1::BuildMapPage(int) {}

void TForm1::Button10Click(QObject*) {}

void TForm1::StringGrid1KeyUp(QObject*, int) {}
