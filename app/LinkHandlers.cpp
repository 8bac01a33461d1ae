// The life of the link: the polling, clock and probe ticks, the page rule that switches
// polling, the 'v' status reply, and the read and upload walks driven by 'r' and 'w' replies.
#include <QLocale>
#include <QTime>

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <utility>

#include "app/Mainform.h"
#include "ecu/EepromTransfer.h"
#include "ecu/LineOwner.h"
#include "ecu/Zcomm.h"
#include "ui/Dialogs.h"
#include "ecu/Polling.h"
#include "ecu/Threadedtimer.h"
#include "live/LiveDecode.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {
const QColor LinkLostRed(255, 0, 0);

// Said in a box after the reply being handled is done with: a modal box runs its own event
// loop, which must not take replies from under this one.
void BoxLater(TForm1* form, const std::string& message)
{
    const QString text = QString::fromStdString(message);
    QPointer<TForm1> self(form);
    QMetaObject::invokeMethod(form, [self, text] { if (self) ui::ShowError(self, text); }, Qt::QueuedConnection);
}

int WholeSeconds(std::chrono::steady_clock::duration d)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}
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
    // No port, nothing to poll: the device has gone or was never found, and the probe is
    // looking for it. Polling comes back with the read that follows (or a page change).
    if (!ZComm1->Connected()) {
        ThreadedTimer1->SetEnabled(false);
        return;
    }
    // Polling waits while the line is busy with a walk or writes: their exchanges go one at a
    // time, and a poll between them would only slow them down. The watchdog waits with it.
    // An upload waiting for a silent ECU asks it itself, and says so in panel 2.
    if (Line->Busy() || UploadWaitAt) return;
    const bool red = StatusBar1->Color() == LinkLostRed;
    const polling::TickPlan plan = polling::PollTick(PollStep, SilentTicks, red, LoggingActive != 0);
    if (plan.reportLost) {
        // A line our own output cannot get onto is not a lost ECU.
        StatusBar1->SetPanelText(2, QString::fromLatin1(Line->OutputHeld() ? polling::TextLineHeld : polling::TextLinkLost));
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
    // Live values on the Gauges page, and on the map pages when the user asked for them there;
    // while logging, on every page, so that the log records what the status bar says it records.
    ThreadedTimer1->SetEnabled(PageWantsPolling() || LoggingActive);
}

void TForm1::ProcessStatusReply(uint16_t address)
{
    const live::StatusPanels panels = live::DecodeStatus(address);
    StatusBar1->SetPanelText(13, panels.panel13);
    for (int i = 0; i < 6; ++i) StatusBar1->SetPanelText(5 + i, panels.flags[i]);
    EcuAnswered = 1;
    if (ReadPending) {
        StatusBar1->SetPanelText(1, live::VersionText(address));
        // One read at a time: a 'v' while the read runs (a poll, the probe) starts no other.
        if (!Line->Has(exchange::JobKind::Read)) StartRead(ReadResumeAddress);
    }
    VerifyDoubts();   // the ECU answers again: what could not be read back before is now
}

void TForm1::ProcessReadReply(uint16_t address, uint8_t data)
{
    // Taken only as the answer to the read step in flight; anything else is a bad reply and
    // changes neither the image nor the walk.
    if (Line->TakeReply({'r', address, data}) == exchange::Verdict::Stray) CountBadReply();
}

void TForm1::ProcessWriteReply(uint16_t address, uint8_t data)
{
    // A write's echo that answers none of ours is evidence, not only noise: a command whose
    // address was damaged on its way wrote the byte there, and a duplicated echo may have
    // overwritten a later byte. Either way the ECU may now hold `data` at that address.
    switch (Line->TakeReply({'w', address, data})) {
    case exchange::Verdict::Stray:
        CountBadReply();
        NoteDoubt(address, data);
        VerifyDoubts();
        break;
    case exchange::Verdict::Doubtful:
        NoteDoubt(address, data);
        VerifyDoubts();
        break;
    case exchange::Verdict::NotOurs:
    case exchange::Verdict::Taken:
    case exchange::Verdict::Late: break;
    }
}

void TForm1::NoteDoubt(uint16_t address, std::optional<uint8_t> seen)
{
    if (address > transfer::LastAddress) return;   // no byte of the calibration lives there
    Doubtful.insert(address);
    UploadCheck.Doubt(address);
    ShowMarks(Marks.Doubt(address, seen));
}

void TForm1::VerifyDoubts()
{
    // After the writes: a read between them could see a byte about to be overwritten. An
    // upload reads its doubts back itself when its writes are done; a full read reads all.
    if (Doubtful.empty() || ReadPending || Line->IsShutDown() || UploadWaitAt || stopAsked_) return;
    for (const exchange::JobKind kind :
         {exchange::JobKind::Read, exchange::JobKind::Upload, exchange::JobKind::Writes, exchange::JobKind::Verify})
        if (Line->Has(kind)) return;
    std::vector<exchange::Step> steps;
    for (const uint16_t a : Doubtful) steps.push_back({'R', a, 0});
    Line->Submit(exchange::JobKind::Verify, std::move(steps));
}

void TForm1::LineResumed()
{
    StatusBar1->SetPanelText(2, QString::fromStdString(polling::LineHeldText(Line->Resumes())));
}

void TForm1::StartRead(uint16_t from, uint8_t firstData)
{
    ReadStallTicks = 0;
    Line->Submit(exchange::JobKind::Read, transfer::ReadSteps(from, firstData));
}

void TForm1::StartUpload()
{
    UploadWaitAt.reset();
    uploadWaitedAt_.reset();
    uploadWaitReadBack_ = false;
    UploadWaitTimer->stop();
    UploadActive = 1;
    UploadCheck.Begin(EepromImage.data(), VerifyEveryUpload);
    SubmitWrites(exchange::JobKind::Upload, transfer::UploadSteps(EepromImage.data()));
}

void TForm1::WaitForSilentEcu(uint16_t address)
{
    // An ECU that answers the probe but takes no write gets no fresh patience: the silence is
    // counted from the first wait at this address.
    if (uploadWaitedAt_ != address) uploadWaitSince_ = std::chrono::steady_clock::now();
    uploadWaitedAt_ = address;
    UploadWaitAt = address;
    StatusBar1->SetPanelText(2, QString::fromStdString(transfer::UploadWaitText(
                                    address, 0, WholeSeconds(UploadPatience))));
    SendCommand('V', 0, 0);
    UploadWaitTimer->start(1000);
}

void TForm1::UploadWaitTick()
{
    if (!UploadWaitAt) {
        UploadWaitTimer->stop();
        return;
    }
    const auto silent = std::chrono::steady_clock::now() - uploadWaitSince_;
    if (silent >= UploadPatience) {
        GiveUpUpload(false);
        return;
    }
    StatusBar1->SetPanelText(2, QString::fromStdString(transfer::UploadWaitText(
                                    *UploadWaitAt, WholeSeconds(silent), WholeSeconds(UploadPatience))));
    SendCommand('V', 0, 0);
}

void TForm1::ResumeUpload()
{
    const uint16_t at = *UploadWaitAt;
    UploadWaitAt.reset();
    UploadWaitTimer->stop();
    StatusBar1->SetPanelText(2, QString::fromStdString(transfer::UploadResumedText(at)));
    if (std::exchange(uploadWaitReadBack_, false)) {
        std::vector<exchange::Step> steps;
        for (const uint16_t a : readBackLeft_) steps.push_back({'R', a, 0});
        Line->Submit(exchange::JobKind::Verify, std::move(steps));
        return;
    }
    SubmitWrites(exchange::JobKind::Upload, transfer::UploadSteps(UploadCheck.File(), at));
}

void TForm1::GiveUpUpload(bool cancelled)
{
    if (!UploadWaitAt) return;
    const uint16_t at = *UploadWaitAt;
    UploadWaitAt.reset();
    UploadWaitTimer->stop();
    if (std::exchange(uploadWaitReadBack_, false)) {
        StatusBar1->SetPanelText(2, QString::fromLatin1(transfer::TextNotVerified));
        BoxLater(this, UploadCheck.UnverifiedMessage(readBackLeft_));
    } else {
        StatusBar1->SetPanelText(2, QString::fromStdString(transfer::UploadFailedText(at)));
        BoxLater(this, transfer::UploadFailedMessage(at, cancelled, UploadCheck.Doubts(), UploadCheck.Differing()));
    }
    EndUpload();
}

void TForm1::EndUpload()
{
    UploadActive = 0;
    UploadCheck.End();
    Button10Click(nullptr);
    // The ECU runs the calibration uploaded: the next edit keeps it as a point of its own.
    RestoreBurstTimer->stop();
}

void TForm1::WriteByte(uint16_t address, uint8_t data)
{
    SubmitWrites(exchange::JobKind::Writes, {{'W', address, data}});
}

void TForm1::LineEvent(const exchange::Event& e)
{
    TrackWrites(e);
    const uint16_t address = e.step.address;
    auto panel2 = [this](const std::string& text) { StatusBar1->SetPanelText(2, QString::fromStdString(text)); };
    auto box = [this](const std::string& message) { BoxLater(this, message); };
    auto endUpload = [this] { EndUpload(); };
    if (e.type == exchange::Event::StepDone && e.doubtful) NoteDoubt(address, e.replyData);
    // An upload's write that went out and was never confirmed may have been stored: its box
    // says so. (Its cell stays marked as never confirmed, like any write that gave up.)
    if (e.type == exchange::Event::JobFailed && e.kind == exchange::JobKind::Upload && e.sends > 0)
        UploadCheck.Doubt(address);
    switch (e.type) {
    case exchange::Event::StepDone:
        // The image takes what the ECU reports: the byte read, or the byte it stored.
        if (address <= transfer::LastAddress) EepromImage[address] = e.replyData;
        if (e.step.letter == 'R' && !Marks.Doubted(address)) Doubtful.erase(address);
        if (e.kind == exchange::JobKind::Read) {
            ReadStallTicks = 0;
            ReadResumeAddress = static_cast<uint16_t>(address + 1);
            panel2(transfer::ReadProgressText(address));
        } else if (e.kind == exchange::JobKind::Upload) {
            UploadCheck.Echo(address, e.replyData);
            panel2(transfer::UploadProgressText(address));
        } else if (e.kind == exchange::JobKind::Verify && UploadCheck.Verifying()) {
            UploadCheck.ReadBack(address, e.replyData);
            panel2(transfer::TextVerifying + std::to_string(address));
        }
        break;
    case exchange::Event::JobDone:
        if (e.kind == exchange::JobKind::Read) {
            panel2(polling::TextConnected);
            Button10Click(nullptr);
            ReadPending = 0;
            ReadResumeAddress = 0;
            ThreadedTimer3->SetEnabled(false);
            ThreadedTimer1->SetEnabled(true);
            TakeRestorePoint(QStringLiteral("after reading the ECU"));   // the calibration as found
        } else if (e.kind == exchange::JobKind::Upload) {
            // Complete only once every byte in doubt has been read back equal to the file.
            const std::vector<uint16_t> check = UploadCheck.WritesDone(Doubtful);
            if (check.empty()) {
                panel2(UploadCheck.DoneText());
                endUpload();
            } else {
                panel2(transfer::TextVerifying + std::to_string(check.front()));
                readBackLeft_ = check;
                std::vector<exchange::Step> steps;
                for (const uint16_t a : check) steps.push_back({'R', a, 0});
                Line->Submit(exchange::JobKind::Verify, std::move(steps));
            }
        } else if (e.kind == exchange::JobKind::Verify && UploadCheck.Verifying()) {
            panel2(UploadCheck.DoneText());
            if (!UploadCheck.Differing().empty()) box(UploadCheck.DifferingMessage());
            endUpload();
        }
        break;
    case exchange::Event::JobFailed:
        if (e.kind == exchange::JobKind::Read) {
            if (e.cancelled) break;
            // Resumed where it stopped, by the next probe tick's 'V' once the ECU answers it.
            ReadResumeAddress = address;
            ReadStallTicks = polling::ReadStallLimit + 1;
            panel2(transfer::ReadStoppedText(address));
        } else if (e.kind == exchange::JobKind::Upload) {
            // The upload's steps run from where it began (or went on) to the last address, so
            // the address it stopped at is the first not confirmed.
            if (stopAsked_) {
                stoppedMessage_ = UploadCheck.StoppedMessage(address);
                panel2(transfer::UploadStoppedText(address));
                endUpload();
            } else if (!e.cancelled) {
                WaitForSilentEcu(address);   // as patient as a read: it goes on when the ECU answers
            } else {
                panel2(transfer::UploadFailedText(address));
                box(transfer::UploadFailedMessage(address, e.cancelled, UploadCheck.Doubts(), UploadCheck.Differing()));
                endUpload();
            }
        } else if (e.kind == exchange::JobKind::Verify) {
            // The read-back's steps are readBackLeft_ in order: those before the one it stopped
            // at have been read.
            if (UploadCheck.Verifying())
                readBackLeft_.erase(readBackLeft_.begin(),
                                    readBackLeft_.begin() + std::ptrdiff_t(std::min(e.stepIndex, readBackLeft_.size())));
            if (UploadCheck.Verifying() && stopAsked_) {
                stoppedMessage_ = UploadCheck.StoppedMessage(transfer::MemorySize);
                panel2(transfer::TextNotVerified);
                endUpload();
            } else if (UploadCheck.Verifying() && !e.cancelled) {
                uploadWaitReadBack_ = true;   // the read-back waits for the ECU as the writes do
                WaitForSilentEcu(address);
            } else if (UploadCheck.Verifying()) {
                panel2(transfer::TextNotVerified);
                box(UploadCheck.UnverifiedMessage(readBackLeft_));
                endUpload();
            }
        } else {
            if (!e.cancelled) panel2(transfer::WriteFailedText(address));
        }
        break;
    }
    // What the ECU holds has changed: a compared file differs elsewhere now.
    if (Compared.Active() && (e.type == exchange::Event::StepDone || e.type == exchange::Event::JobFailed))
        ShowComparison();
    // Writes are settled: what they left in doubt is read back now.
    if (e.type != exchange::Event::StepDone) VerifyDoubts();
}

void TForm1::ShowLinkLost()
{
    StatusBar1->SetPanelText(2, QString::fromLatin1(polling::TextLinkLost));
    StatusBar1->SetColor(LinkLostRed);
}

void TForm1::LinkLost()
{
    if (Line->IsShutDown()) return;
    if (ZComm1->Connected()) ZComm1->CloseConnection();
    // The same device is looked for, not whatever its name means while it is gone (a missing
    // file COM1 here would otherwise mean /dev/ttyS0).
    if (!ZComm1->OpenedPath().isEmpty()) ZComm1->SetPort(ZComm1->OpenedPath());
    Line->CancelAll();   // an upload broken off says so in its box
    GiveUpUpload(true);   // ... and so does one that was waiting for the ECU
    // On every page at once, not only when the watchdog of the Gauges page counts it out; and
    // the watchdog is told, so that it reports the link back only after a reply.
    ShowLinkLost();
    // The way back is the way of a new port: the probe looks for the ECU every second (the
    // line opens the device again as it does so), and its first answer reads the calibration.
    ResetLink(ecu::kResetOnDeviceLost);
    ThreadedTimer3->SetEnabled(true);
}
