// The Setup page: settings, throttle calibration, description, calibration files, port box.
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

#include "app/Mainform.h"

void TForm1::BuildSetupPage()
{
    QWidget* page = TabSheet[5];
    auto* portGroup = new QGroupBox(QStringLiteral("Port"), page);
    portGroup->setObjectName(QStringLiteral("grpPort"));
    auto* row = new QHBoxLayout(portGroup);
    auto* label = new QLabel(QStringLiteral("Serial port:"), portGroup);
    label->setBuddy(ComboBox1);
    row->addWidget(label);
    row->addWidget(ComboBox1, 1);
    portGroup->setGeometry(16, 460, 360, 56);
}

void TForm1::Button7Click(QObject*) {}
void TForm1::Button8Click(QObject*) {}
void TForm1::Button5Click(QObject*) {}
void TForm1::Button6Click(QObject*) {}
