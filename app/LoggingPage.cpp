// The Logging page and the recording buttons of the Gauges page.
#include "app/Mainform.h"

void TForm1::BuildLoggingPage() {}
void TForm1::Button1Click(QObject*) {}
void TForm1::Button2Click(QObject*) {}
void TForm1::AddLogSample() {}
void TForm1::Button3Click(QObject*) {}
void TForm1::Button4Click(QObject*) {}
void TForm1::LineSeries10Click(QObject*, int) {}
void TForm1::TrackBar1Change(QObject*) {}
void TForm1::CheckBox1Click(QObject*) {}
void TForm1::Chart10DblClick(QObject*) {}
