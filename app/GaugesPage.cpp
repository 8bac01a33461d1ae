// The Gauges page: the live value boxes in their groups, the duty and lambda gauges, the
// logging buttons, and what the live replies 'a' to 'h' do to them.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string_view>

#include "app/Mainform.h"
#include "live/Cgauges.h"
#include "live/LambdaDisplay.h"
#include "live/LiveDecode.h"
#include "logging/LogChannels.h"
#include "base/NumberFormat.h"

namespace {

// The boxes are read from across the bench while the engine runs: large bold figures on a
// grey face, right-aligned so that a value changing its width does not make the digits jump.
constexpr int BoxFontPixels = 22;
constexpr int LambdaFontPixels = 27;
const QColor BoxFace(200, 200, 200);

const QColor DutyRed(255, 0, 0);
const QColor DutyLime(0, 255, 0);

// Page geometry: three columns of groups, rows of label and box inside them.
constexpr int RowPitch = 46;
constexpr int BoxHeight = 36;
constexpr int FirstRowTop = 24;

void StyleBox(QLineEdit* edit, int fontPixels)
{
    QFont font = edit->font();
    font.setBold(true);
    font.setPixelSize(fontPixels);
    edit->setFont(font);
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, BoxFace);
    pal.setColor(QPalette::Text, Qt::black);
    edit->setPalette(pal);
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A box that fills its own background is opaque to Qt: a new value repaints the box alone,
    // not the group, the page, the page control and the window under it, 80 times a second.
    edit->setAutoFillBackground(true);
}

// A label standing left of its box; as the box's buddy it also names the box for a screen
// reader, and the name is set outright for tools that do not follow buddies.
QLabel* LabelFor(QLineEdit* edit, const QString& text, QWidget* parent, int x, int y, int width)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(edit->objectName() + QStringLiteral("Label"));
    label->setBuddy(edit);
    label->setGeometry(x, y, width, BoxHeight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    edit->setAccessibleName(text);
    return label;
}

// One row of a group: the label at the left edge, the box after it.
void PlaceRow(QLineEdit* edit, const QString& text, QWidget* group, int row, int labelWidth, int boxWidth)
{
    const int y = FirstRowTop + row * RowPitch;
    edit->setParent(group);
    edit->setGeometry(10 + labelWidth, y, boxWidth, BoxHeight);
    LabelFor(edit, text, group, 10, y, labelWidth);
}

QGroupBox* Group(const char* name, const QString& caption, QWidget* page, const QRect& rect)
{
    auto* group = new QGroupBox(caption, page);
    group->setObjectName(QLatin1String(name));
    group->setAccessibleName(caption);
    group->setGeometry(rect);
    return group;
}

// The live boxes by the names the decoding uses.
QLineEdit* LiveBox(const TForm1& form, std::string_view name)
{
    static constexpr std::pair<std::string_view, QLineEdit* TForm1::*> Boxes[] = {
        {"txtRPM", &TForm1::txtRPM},
        {"txtTPS", &TForm1::txtTPS},
        {"txtFuel", &TForm1::txtFuel},
        {"txtAdvance", &TForm1::txtAdvance},
        {"txtVacuum", &TForm1::txtVacuum},
        {"txtVolt", &TForm1::txtVolt},
        {"txtAcc", &TForm1::txtAcc},
        {"txtAirTemp", &TForm1::txtAirTemp},
        {"txtWaterTemp", &TForm1::txtWaterTemp},
        {"txtFuelCorrection", &TForm1::txtFuelCorrection},
        {"txtAdvCorrection", &TForm1::txtAdvCorrection},
        {"txtEGT", &TForm1::txtEGT},
        {"txtLambda", &TForm1::txtLambda},
        {"txtLambdaFloat", &TForm1::txtLambdaFloat},
        {"txtPWM", &TForm1::txtPWM},
        {"txtOil", &TForm1::txtOil},
        {"txtPOT", &TForm1::txtPOT},
    };
    for (const auto& [boxName, member] : Boxes)
        if (boxName == name) return form.*member;
    return nullptr;
}

// A live text is written only when it differs: an equal write would still repaint the box
// (and move a user's cursor), and only a real change may raise the box's change event.
void SetBoxText(QLineEdit* edit, const QString& text)
{
    if (edit && edit->text() != text) edit->setText(text);
}

}  // namespace

void TForm1::BuildGaugesPage()
{
    QWidget* page = TabSheet[3];
    // The live value boxes: every one starts at "0"; only txtRPM, txtFuel and txtPOT take typing.
    auto box = [&](QLineEdit*& edit, const char* name, bool readOnly, QWidget* parent) {
        edit = new QLineEdit(QStringLiteral("0"), parent);
        edit->setObjectName(QLatin1String(name));
        edit->setAccessibleName(QLatin1String(name));
        edit->setReadOnly(readOnly);
        StyleBox(edit, BoxFontPixels);
    };
    box(txtRPM, "txtRPM", false, page);
    box(txtTPS, "txtTPS", true, page);
    box(txtFuel, "txtFuel", false, page);
    box(txtAdvance, "txtAdvance", true, page);
    box(txtVacuum, "txtVacuum", true, page);
    box(txtVolt, "txtVolt", true, page);
    box(txtAcc, "txtAcc", true, page);
    box(txtAirTemp, "txtAirTemp", true, page);
    box(txtWaterTemp, "txtWaterTemp", true, page);
    box(txtFuelCorrection, "txtFuelCorrection", true, page);
    box(txtAdvCorrection, "txtAdvCorrection", true, page);
    box(txtEGT, "txtEGT", true, page);
    box(txtLambda, "txtLambda", true, page);
    box(txtLambdaFloat, "txtLambdaFloat", true, page);
    box(txtPWM, "txtPWM", true, page);
    box(txtOil, "txtOil", true, page);
    // txtPOT is shown on the Setup page, whose builder puts it into its "POT" group.
    box(txtPOT, "txtPOT", false, TabSheet[5]);
    txtPOT->setAccessibleName(QStringLiteral("POT"));

    // Three columns: the engine's main values, the engine's supply, the temperatures and
    // corrections; below them the exhaust, the injector duty and the logging buttons.
    constexpr int col1 = 8, col2 = 270, col3 = 532, colWidth = 254, topRowHeight = 216;

    QGroupBox* mainGroup = Group("GroupBox1", QStringLiteral("!"), page, {col1, 8, colWidth, topRowHeight});
    // "!" marks the group on screen; a screen reader saying "exclamation mark" tells nothing.
    mainGroup->setAccessibleName(QStringLiteral("Main values"));
    PlaceRow(txtRPM, QStringLiteral("RPM:"), mainGroup, 0, 96, 138);
    PlaceRow(txtTPS, QStringLiteral("TPS:"), mainGroup, 1, 96, 138);
    PlaceRow(txtFuel, QStringLiteral("Fuel:"), mainGroup, 2, 96, 138);
    PlaceRow(txtAdvance, QStringLiteral("Advance:"), mainGroup, 3, 96, 138);

    QGroupBox* engine = Group("GroupBox2", QStringLiteral("Engine"), page, {col2, 8, colWidth, topRowHeight});
    PlaceRow(txtVacuum, QStringLiteral("MAP (kPa)"), engine, 0, 106, 128);
    PlaceRow(txtVolt, QStringLiteral("Battery voltage:"), engine, 1, 106, 128);
    PlaceRow(txtAcc, QStringLiteral("Acc:"), engine, 2, 106, 128);

    QGroupBox* temps = Group("GroupBox3", QStringLiteral("Temperatures"), page, {col3, 8, colWidth, topRowHeight});
    PlaceRow(txtAirTemp, QStringLiteral("Air temp:"), temps, 0, 106, 128);
    PlaceRow(txtWaterTemp, QStringLiteral("Water temp:"), temps, 1, 106, 128);
    PlaceRow(txtFuelCorrection, QStringLiteral("Injection corr:"), temps, 2, 106, 128);
    PlaceRow(txtAdvCorrection, QStringLiteral("Ignition corr:"), temps, 3, 106, 128);

    // Exhaust: EGT and the lambda ratio at the left, the two lambda bars stacked at the right
    // (lean above, rich below, meeting at lambda 1.00).
    constexpr int lowerTop = 8 + topRowHeight + 8;
    QGroupBox* exhaust = Group("GroupBox4", QStringLiteral("Exhaust"), page, {col1, lowerTop, colWidth, 148});
    txtEGT->setParent(exhaust);
    txtEGT->setGeometry(64, 28, 112, BoxHeight);
    LabelFor(txtEGT, QStringLiteral("EGT:"), exhaust, 10, 28, 52);
    txtLambda->setParent(exhaust);
    txtLambda->setAccessibleName(QStringLiteral("Lambda raw"));
    txtLambda->hide();
    txtLambdaFloat->setParent(exhaust);
    StyleBox(txtLambdaFloat, LambdaFontPixels);
    txtLambdaFloat->setGeometry(64, 88, 112, 44);
    QLabel* lambdaLabel = LabelFor(txtLambdaFloat, QStringLiteral("Lambda"), exhaust, 10, 88, 52);
    lambdaLabel->setFixedHeight(44);
    // The bars' scale beside them: lambda 1.50 at the top, 1.00 where they meet, 0.50 below.
    QFont scaleFont = exhaust->font();
    scaleFont.setPixelSize(10);
    const std::pair<double, int> marks[] = {{1.5, 24}, {1.0, 80}, {0.5, 136}};
    for (const auto& [lambda, y] : marks) {
        auto* mark = new QLabel(base::FormatFixed(lambda, 1), exhaust);
        mark->setObjectName(QStringLiteral("LambdaScale%1").arg(qRound(lambda * 10)));
        mark->setFont(scaleFont);
        mark->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        mark->setGeometry(235, y - 6, 18, 12);
    }

    CGauge1 = new TCGauge(exhaust);
    CGauge1->setObjectName(QStringLiteral("CGauge1"));
    CGauge1->setAccessibleName(QStringLiteral("Lambda lean bar"));
    CGauge1->setGeometry(184, 24, 49, 57);
    CGauge1->SetKind(gkVerticalBar);
    CGauge1->SetShowText(false);
    CGauge1->SetBorderStyle(bsSingle);
    CGauge1->SetForeColor(QColor(0, 0, 255));
    CGauge1->SetBackColor(QColor(255, 255, 255));
    CGauge1->SetMinValue(100);   // before MaxValue, as stored: 100 does not exceed the 100 it has
    CGauge1->SetMaxValue(150);
    CGauge1->SetProgress(100);

    CGauge2 = new TCGauge(exhaust);
    CGauge2->setObjectName(QStringLiteral("CGauge2"));
    CGauge2->setAccessibleName(QStringLiteral("Lambda rich bar"));
    CGauge2->setGeometry(184, 80, 49, 57);
    CGauge2->SetKind(gkVerticalBar);
    CGauge2->SetShowText(false);
    CGauge2->SetBorderStyle(bsSingle);
    CGauge2->SetForeColor(QColor(255, 255, 255));
    CGauge2->SetBackColor(QColor(255, 0, 0));
    CGauge2->SetMinValue(50);
    CGauge2->SetMaxValue(100);
    CGauge2->SetProgress(50);

    // Injector duty: a horizontal bar with its percentage, lime until the injectors run out
    // of time, red above 90 %.
    QGroupBox* duty = Group("GroupBox5", QStringLiteral("Duty"), page, {col2, lowerTop, colWidth, 72});
    DutyGauge = new TCGauge(duty);
    DutyGauge->setObjectName(QStringLiteral("DutyGauge"));
    DutyGauge->setAccessibleName(QStringLiteral("Duty"));
    DutyGauge->setGeometry(32, 24, 177, 36);
    DutyGauge->SetKind(gkHorizontalBar);
    DutyGauge->SetShowText(true);
    DutyGauge->SetBorderStyle(bsSingle);
    DutyGauge->SetForeColor(DutyLime);
    DutyGauge->SetBackColor(QColor(0, 0, 0));
    DutyGauge->SetColor(QColor(255, 255, 255));   // the caption text colour; shows only round a dial
    QFont dutyFont = DutyGauge->font();
    dutyFont.setPixelSize(11);
    dutyFont.setBold(false);
    DutyGauge->SetFont(dutyFont);
    DutyGauge->SetMinValue(0);
    DutyGauge->SetMaxValue(100);
    DutyGauge->SetProgress(0);

    // Wastegate duty and oil pressure stand on their own under the duty bar.
    constexpr int looseTop = lowerTop + 72 + 10;
    txtPWM->setGeometry(col2 + 10 + 106, looseTop, 128, BoxHeight);
    LabelFor(txtPWM, QStringLiteral("Wastegate"), page, col2 + 10, looseTop, 106);
    txtOil->setGeometry(col2 + 10 + 106, looseTop + RowPitch, 128, BoxHeight);
    LabelFor(txtOil, QStringLiteral("Oil Pressure:"), page, col2 + 10, looseTop + RowPitch, 106);

    Button12 = new QPushButton(QStringLiteral("Start Logging"), page);
    Button12->setObjectName(QStringLiteral("Button12"));
    Button12->setAccessibleName(QStringLiteral("Start Logging"));
    Button12->setGeometry(col3 + 10, lowerTop + 8, 150, 32);
    Button13 = new QPushButton(QStringLiteral("Stop Logging"), page);
    Button13->setObjectName(QStringLiteral("Button13"));
    Button13->setAccessibleName(QStringLiteral("Stop Logging"));
    Button13->setGeometry(col3 + 10, lowerTop + 8 + RowPitch, 150, 32);

    // Both lambda boxes drive the display; it always reads the raw one.
    connect(txtLambda, &QLineEdit::textChanged, this, [this] { txtLambdaChange(txtLambda); });
    connect(txtLambdaFloat, &QLineEdit::textChanged, this, [this] { txtLambdaChange(txtLambdaFloat); });
}

void TForm1::ProcessLiveReply(char letter, uint16_t address, uint8_t data)
{
    for (const live::BoxWrite& write : live::DecodeLive(letter, address, data)) {
        QLineEdit* box = LiveBox(*this, write.box);
        SetBoxText(box, write.text);
        for (int k = 0; k < logging::kLogChannelCount; ++k)
            if (LogSourceEdit[size_t(k)] == box) LogChannelHeard[size_t(k)] = true;
    }
    ShowLiveOnMaps(letter, address, data);   // the map page's strip and operating points
    if (letter != 'c') return;
    // A box the user typed into that is not a number throws here, after the two writes and
    // before the gauge: the reply then counts as a bad one and the gauge stays as it was.
    const live::Duty duty = live::ComputeDuty(txtFuel->text(), txtRPM->text());
    DutyGauge->SetForeColor(duty.red ? DutyRed : DutyLime);
    DutyGauge->SetProgress(duty.progress);
}

void TForm1::txtLambdaChange(QObject*)
{
    // A raw text that is not an integer cannot come from the ECU; the display keeps what it shows.
    const std::optional<live::LambdaView> view = live::LambdaFromText(txtLambda->text());
    if (!view) return;
    CGauge1->SetProgress(view->upper);
    CGauge2->SetProgress(view->lower);
    SetBoxText(txtLambdaFloat, view->text);
}
