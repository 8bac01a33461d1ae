// The Gauges page: live value boxes, the duty and lambda gauges, and the live replies.
#include "app/Mainform.h"

void TForm1::BuildGaugesPage() {}

void TForm1::ProcessLiveReply(char, uint16_t, uint8_t) {}

void TForm1::txtLambdaChange(QObject*) {}
