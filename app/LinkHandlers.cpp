// The life of the link: the polling, clock and probe ticks, the page rule that switches
// polling, the 'v' status reply, and the read and upload walks driven by 'r' and 'w' replies.
#include <QLocale>
#include <QTime>

#include "app/Mainform.h"
#include "ecu/EepromTransfer.h"
#include "ecu/Polling.h"
#include "ecu/Threadedtimer.h"
#include "live/LiveDecode.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {
const QColor LinkLostRed(255, 0, 0);
}

// A walk's progress text, then (at its end) the text it ends with.
void TForm1::ShowTransferStatus(const std::optional<std::string>& status,
                                const std::optional<std::string>& endStatus)
{
    if (status) StatusBar1->SetPanelText(2, QString::fromStdString(*status));
    if (endStatus) StatusBar1->SetPanelText(2, QString::fromStdString(*endStatus));
}

QString TForm1::ClockText()
{
    // The system's long time format (hours, minutes, seconds) without the time zone Qt adds to
    // it. Only the zone's pattern letter goes; a 't' inside quoted text stays.
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString kept;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) continue;
        kept += c;
    }
    return QLocale::system().toString(QTime::currentTime(), kept.trimmed());
}

void TForm1::ThreadedTimer1Timer(QObject*)
{
    const bool red = StatusBar1->Color() == LinkLostRed;
    const polling::TickPlan plan = polling::PollTick(PollStep, SilentTicks, red, LoggingActive != 0);
    if (plan.reportLost) {
        StatusBar1->SetPanelText(2, QString::fromLatin1(polling::TextLinkLost));
        StatusBar1->SetColor(LinkLostRed);
    }
    if (plan.reportBack) {
        StatusBar1->SetPanelText(2, QString::fromLatin1(polling::TextConnected));
        StatusBar1->SetColor(StatusBar::ButtonFace());
    }
    SendCommand(plan.command, 0, 0);
    if (plan.takeLogSample) AddLogSample();
}

void TForm1::ThreadedTimer2Timer(QObject*) { StatusBar1->SetPanelText(0, ClockText()); }

void TForm1::ThreadedTimer3Timer(QObject*)
{
    switch (polling::ProbeTick(EcuAnswered, ReadPending, ReadStallTicks)) {
    case polling::ProbeAction::SendProbe:
    case polling::ProbeAction::RestartRead: SendCommand('V', 0, 0); break;
    case polling::ProbeAction::Count: break;
    }
}

void TForm1::PageControl1Change(QObject*)
{
    // Live values on the Gauges page; while logging, on every page, so that the log records
    // what the status bar says it records.
    ThreadedTimer1->SetEnabled(PageControl1->ActivePageIndex() == 3 || LoggingActive);
}

void TForm1::ProcessStatusReply(uint16_t address)
{
    const live::StatusPanels panels = live::DecodeStatus(address);
    StatusBar1->SetPanelText(13, panels.panel13);
    for (int i = 0; i < 6; ++i) StatusBar1->SetPanelText(5 + i, panels.flags[i]);
    EcuAnswered = 1;
    if (ReadPending) {
        StatusBar1->SetPanelText(1, live::VersionText(address));
        SendCommand('R', 0, 0);
    }
}

void TForm1::ProcessReadReply(uint16_t address, uint8_t data)
{
    ReadStallTicks = 0;
    const transfer::ReadStep step = transfer::OnReadReply(address);
    if (step.store) EepromImage[address] = data;
    ShowTransferStatus(step.status, step.endStatus);
    switch (step.outcome) {
    case transfer::ReadStep::Complete:
        Button10Click(nullptr);
        ReadPending = 0;
        ThreadedTimer3->SetEnabled(false);
        ThreadedTimer1->SetEnabled(true);
        break;
    case transfer::ReadStep::Failed:
        ReadPending = 0;
        ThreadedTimer1->SetEnabled(true);
        break;
    case transfer::ReadStep::Next: SendCommand('R', step.nextAddress, 0); break;
    }
}

void TForm1::ProcessWriteReply(uint16_t address, uint8_t data)
{
    const transfer::UploadStep step = transfer::OnWriteReply(address, UploadActive != 0);
    if (step.store) EepromImage[address] = data;
    ShowTransferStatus(step.status, step.endStatus);
    switch (step.outcome) {
    case transfer::UploadStep::Stop: break;
    case transfer::UploadStep::Complete:
        UploadActive = 0;
        Button10Click(nullptr);
        break;
    case transfer::UploadStep::Failed: UploadActive = 0; break;
    case transfer::UploadStep::Next:
        SendCommand('W', step.nextAddress, EepromImage[step.nextAddress]);
        break;
    }
}
