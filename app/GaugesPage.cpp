// The Gauges page: live value boxes, the duty and lambda gauges, and the live replies.
#include <QLineEdit>
#include <QPushButton>

#include "app/Mainform.h"

void TForm1::BuildGaugesPage()
{
    QWidget* page = TabSheet[3];
    // The live value boxes: every one starts at "0"; only txtRPM, txtFuel and txtPOT take typing.
    auto box = [&](QLineEdit*& edit, const char* name, bool readOnly) {
        edit = new QLineEdit(QStringLiteral("0"), page);
        edit->setObjectName(QLatin1String(name));
        edit->setAccessibleName(QLatin1String(name));
        edit->setReadOnly(readOnly);
    };
    box(txtRPM, "txtRPM", false);
    box(txtTPS, "txtTPS", true);
    box(txtFuel, "txtFuel", false);
    box(txtAdvance, "txtAdvance", true);
    box(txtVacuum, "txtVacuum", true);
    box(txtVolt, "txtVolt", true);
    box(txtAcc, "txtAcc", true);
    box(txtAirTemp, "txtAirTemp", true);
    box(txtWaterTemp, "txtWaterTemp", true);
    box(txtFuelCorrection, "txtFuelCorrection", true);
    box(txtAdvCorrection, "txtAdvCorrection", true);
    box(txtEGT, "txtEGT", true);
    box(txtLambda, "txtLambda", true);
    txtLambda->hide();
    box(txtLambdaFloat, "txtLambdaFloat", true);
    box(txtPWM, "txtPWM", true);
    box(txtOil, "txtOil", true);
    box(txtPOT, "txtPOT", false);   // shown on the Setup page, whose builder places it

    Button12 = new QPushButton(QStringLiteral("Start Logging"), page);
    Button12->setObjectName(QStringLiteral("Button12"));
    Button13 = new QPushButton(QStringLiteral("Stop Logging"), page);
    Button13->setObjectName(QStringLiteral("Button13"));
}

void TForm1::ProcessLiveReply(char, uint16_t, uint8_t) {}

void TForm1::txtLambdaChange(QObject*) {}
