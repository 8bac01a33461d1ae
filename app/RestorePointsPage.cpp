// Restore points: when the window keeps them, the "Restore points" command of the Setup page
// that lists them and restores one, and the calibrations a log was recorded with.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "app/Mainform.h"
#include "base/RegularFile.h"
#include "base/SaveFile.h"
#include "calibration/ImageDiff.h"
#include "calibration/RestorePoints.h"
#include "ecu/LineOwner.h"
#include "logging/LogCalibrations.h"
#include "logging/LogViewer.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"
#include "ui/StatusBar.h"

namespace {

constexpr int BurstGapMs = 60 * 1000;   // a minute without edits ends a burst
constexpr int MessagePanel = 3;

QString PointLine(const calibration::RestorePoint& p)
{
    using State = calibration::RestorePoint::State;
    const QString when = p.time.isValid() ? QLocale::system().toString(p.time, QLocale::ShortFormat)
                                          : QStringLiteral("time not known");
    switch (p.state) {
    case State::Foreign: return QStringLiteral("Not a restore point: %1").arg(p.name);
    case State::Damaged: return QStringLiteral("Damaged: %1 (%2)").arg(p.name, p.problem);
    case State::Unindexed:
        return QStringLiteral("%1  %2  (not in the index)").arg(when, p.cause);
    case State::Ok: break;
    }
    QString line = QStringLiteral("%1  %2  \u2014 %3").arg(when, p.cause, calibration::SummaryText(p.summary));
    if (!p.ecuVersion.isEmpty()) line += QStringLiteral("  [%1]").arg(p.ecuVersion);
    return line;
}

// What a calibration would change in the ECU, in the words of the comparison before an upload.
QString AgainstEcu(const calibration::EepromImage& image, const calibration::EcuByteAt& ecu, bool ecuKnown)
{
    if (!ecuKnown) return QStringLiteral("What the ECU holds is not known: its calibration has not been read.");
    const calibration::ImageDifference d = calibration::CompareWithEcu(image, ecu);
    if (d.Equal()) return QStringLiteral("The ECU holds this calibration.");
    QStringList lines;
    lines << QStringLiteral("The ECU differs from this calibration in %1 of its 500 bytes:").arg(d.addresses.size());
    for (const calibration::MapDifference& m : d.maps)
        lines << QStringLiteral("  %1: %2 %3").arg(QString::fromUtf8(m.map->title)).arg(m.columns.size())
                     .arg(m.columns.size() == 1 ? QStringLiteral("cell") : QStringLiteral("cells"));
    for (const calibration::SettingDifference& s : d.settings)
        lines << QStringLiteral("  %1: ECU %2, this calibration %3")
                     .arg(QString::fromUtf8(calibration::AccessibleName(*s.setting)),
                          s.ecuValue ? QString::number(*s.ecuValue) : QStringLiteral("not known"))
                     .arg(s.fileValue);
    if (!d.others.empty()) lines << QStringLiteral("  %1 other bytes").arg(d.others.size());
    return lines.join(QLatin1Char('\n'));
}

QPushButton* NamedButton(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(caption);
    return b;
}

}  // namespace

void TForm1::BuildRestorePoints()
{
    RestoreBurstTimer = new QTimer(this);
    RestoreBurstTimer->setObjectName(QStringLiteral("RestoreBurstTimer"));
    RestoreBurstTimer->setSingleShot(true);
    RestoreBurstTimer->setInterval(BurstGapMs);

    ButtonRestorePoints = NamedButton(QStringLiteral("Restore points"), "ButtonRestorePoints", TabSheet[5]);
    // Under the check boxes, in line with "Compare with file…"; the port group below gives up
    // the height the button takes.
    ButtonRestorePoints->setGeometry(646, 346, 136, 28);
    if (auto* port = TabSheet[5]->findChild<QWidget*>(QStringLiteral("grpPort")))
        port->setGeometry(port->geometry().adjusted(0, 36, 0, 0));
    connect(ButtonRestorePoints, &QPushButton::clicked, this, [this] { ButtonRestorePointsClick(ButtonRestorePoints); });

    // Beside the export, at the right end of its row; the sample's time keeps the space between.
    ButtonLogCalibration = NamedButton(QStringLiteral("Show the calibration of this log"), "ButtonLogCalibration", TabSheet[4]);
    const int width = ButtonLogCalibration->sizeHint().width();
    const QRect caption = lblSampleTime->geometry();
    ButtonLogCalibration->setGeometry(caption.right() + 1 - width, caption.top(), width, caption.height());
    lblSampleTime->setGeometry(caption.adjusted(0, 0, -width - 8, 0));
    ButtonLogCalibration->setEnabled(false);
    connect(ButtonLogCalibration, &QPushButton::clicked, this, [this] { ButtonLogCalibrationClick(ButtonLogCalibration); });
}

QString TForm1::TakeRestorePoint(const QString& cause)
{
    // Before the ECU's calibration has been read there is none to keep: the image is not the ECU's.
    if (ReadPending || !imageShown_) return {};
    calibration::RestorePoints points;
    const calibration::PointKept kept = points.Keep(EepromImage, Memo1->document()->toRawText(), cause,
                                                    StatusBar1->PanelText(1));
    if (!kept.ok) {
        StatusBar1->SetPanelText(MessagePanel, QStringLiteral("Restore point not kept: %1").arg(kept.reason));
        return {};
    }
    LastRestorePoint = KeptPoint{kept.name, kept.checksum, EepromImage};
    WroteSinceRestorePoint = false;
    if (LoggingActive) {
        Log.NotePoint(kept.name, kept.checksum);
        ShowLogCalibrationOffer();
    }
    return kept.name;
}

QString TForm1::KeepRestorePoint(const QString& cause)
{
    const QString name = TakeRestorePoint(cause);
    // What follows runs on another calibration: a recording starts a new stretch here.
    if (LoggingActive) Log.BeginStretch(logging::SampleCount(*Chart10));
    RestoreBurstTimer->start();   // the change's own writes are part of it
    return name;
}

void TForm1::NoteEdit()
{
    if (RestoreBurstTimer->isActive()) RestoreBurstTimer->start();
    else KeepRestorePoint(QStringLiteral("before edits"));
}

QString TForm1::CurrentRestorePoint()
{
    QString name;
    QByteArray checksum;
    if (LastRestorePoint && LastRestorePoint->image == EepromImage && !ReadPending) {
        name = LastRestorePoint->name;
        checksum = LastRestorePoint->checksum;
    } else if (!(name = TakeRestorePoint(QStringLiteral("for a recorded log"))).isEmpty()) {
        checksum = LastRestorePoint->checksum;
    }
    if (!name.isEmpty()) Log.NotePoint(name, checksum);
    ShowLogCalibrationOffer();
    return name;
}

void TForm1::ShowLogCalibrationOffer()
{
    bool known = false;
    for (const logging::LogStretchRange& r : logging::StretchRanges(Log.Stretches(), logging::SampleCount(*Chart10)))
        known = known || !r.point.isEmpty();
    ButtonLogCalibration->setEnabled(known);
}

bool TForm1::CalibrationWalkRunning()
{
    // One walk at a time: a calibration sent while the ECU's is still being read, or while
    // another is being uploaded, would be mixed with it.
    const bool reading = Line->Has(exchange::JobKind::Read);
    if (!reading && !Line->Has(exchange::JobKind::Upload) && !UploadWaitAt) return false;
    ui::ShowInformation(this, reading ? QStringLiteral("The ECU's calibration is still being read. "
                                                       "Load the file when the read has finished.")
                                      : QStringLiteral("A calibration is still being uploaded to the ECU. "
                                                       "Load the file when the upload has finished."));
    return true;
}

bool TForm1::UploadCalibrationRead(const QString& imageFile, const calibration::CalibrationRead& read,
                                   const QString& cause)
{
    if (!ConfirmUpload(imageFile, read)) return false;
    KeepRestorePoint(cause);   // what the ECU held, so that the upload can be undone
    EepromImage = read.image.image;
    Button10Click(nullptr);
    TakeDescription(read);
    StartUpload();
    return true;
}

void TForm1::ButtonRestorePointsClick(QObject*)
{
    if (CalibrationWalkRunning()) return;
    const calibration::RestorePoints points;
    const calibration::PointListing listing = points.List();

    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("RestorePointsDialog"));
    dialog.setWindowTitle(QStringLiteral("Restore points"));
    dialog.setAccessibleName(QStringLiteral("Restore points"));
    dialog.resize(720, 420);
    auto* column = new QVBoxLayout(&dialog);
    auto* folder = new QLabel(&dialog);
    folder->setObjectName(QStringLiteral("lblRestoreFolder"));
    folder->setAccessibleName(QStringLiteral("Restore points folder"));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folder->setWordWrap(true);
    QString folderText = QStringLiteral("%1 \u2014 %2").arg(points.Folder(), QLocale::system().formattedDataSize(listing.folderSize));
    if (listing.indexDamaged)
        folderText += QStringLiteral("\nThe index could not be read (%1): the summaries are missing; the next point "
                                     "builds it again.").arg(listing.indexProblem);
    folder->setText(folderText);
    column->addWidget(folder);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("lstRestorePoints"));
    list->setAccessibleName(QStringLiteral("Restore points, newest first"));
    using State = calibration::RestorePoint::State;
    for (const calibration::RestorePoint& p : listing.points) {
        auto* item = new QListWidgetItem(PointLine(p), list);
        const bool usable = p.state == State::Ok || p.state == State::Unindexed;
        item->setData(Qt::UserRole, usable ? p.name : QString());
        if (!usable) item->setForeground(Qt::gray);
    }
    if (listing.points.empty()) new QListWidgetItem(QStringLiteral("No restore point has been kept yet."), list);
    column->addWidget(list, 1);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* restore = NamedButton(QStringLiteral("Restore\u2026"), "btnRestorePoint", &dialog);
    QPushButton* close = NamedButton(QStringLiteral("Close"), "btnRestorePointsClose", &dialog);
    buttons->addButton(restore, QDialogButtonBox::AcceptRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    column->addWidget(buttons);
    restore->setEnabled(false);
    auto chosen = [list] {
        const QListWidgetItem* item = list->currentItem();
        return item ? item->data(Qt::UserRole).toString() : QString();
    };
    connect(list, &QListWidget::currentItemChanged, &dialog, [restore, chosen] { restore->setEnabled(!chosen().isEmpty()); });
    connect(list, &QListWidget::itemActivated, &dialog, [&dialog, chosen] { if (!chosen().isEmpty()) dialog.accept(); });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString name = chosen();
    if (name.isEmpty() || CalibrationWalkRunning()) return;

    const calibration::CalibrationRead read = points.Read(name);
    if (read.image.status != calibration::ImageFileRead::Ok) {
        ui::ShowError(this, read.image.status == calibration::ImageFileRead::WrongSize
                                ? calibration::WrongSizeMessage(points.ImageFile(name), read.image.size)
                                : calibration::CannotOpenMessage(points.ImageFile(name), read.image.reason));
        return;
    }
    UploadCalibrationRead(points.ImageFile(name), read, QStringLiteral("before restoring %1").arg(name));
}

void TForm1::ButtonLogCalibrationClick(QObject*)
{
    const int samples = logging::SampleCount(*Chart10);
    const std::vector<logging::LogStretchRange> ranges = logging::StretchRanges(Log.Stretches(), samples);
    const calibration::RestorePoints points;

    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("LogCalibrationDialog"));
    dialog.setWindowTitle(QStringLiteral("The calibration of this log"));
    dialog.setAccessibleName(QStringLiteral("The calibration of this log"));
    dialog.resize(680, 420);
    auto* column = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("lstLogStretches"));
    list->setAccessibleName(QStringLiteral("Stretches of the log"));
    column->addWidget(list, 1);
    auto* text = new QPlainTextEdit(&dialog);
    text->setObjectName(QStringLiteral("txtLogCalibration"));
    text->setAccessibleName(QStringLiteral("Calibration against the ECU"));
    text->setReadOnly(true);
    column->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* restore = NamedButton(QStringLiteral("Restore\u2026"), "btnLogCalibrationRestore", &dialog);
    QPushButton* close = NamedButton(QStringLiteral("Close"), "btnLogCalibrationClose", &dialog);
    buttons->addButton(restore, QDialogButtonBox::AcceptRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // Each stretch's calibration, read and checked once: the point must still be what the log
    // was recorded with.
    std::vector<std::optional<calibration::CalibrationRead>> reads;
    std::vector<QString> details;
    for (const logging::LogStretchRange& r : ranges) {
        const QString span = QStringLiteral("Samples %1 to %2").arg(r.first).arg(r.last);
        std::optional<calibration::CalibrationRead> read;
        QString detail;
        if (r.point.isEmpty()) {
            detail = QStringLiteral("No restore point could be kept for these samples.");
        } else {
            calibration::CalibrationRead got = points.Read(r.point);
            if (got.image.status != calibration::ImageFileRead::Ok)
                detail = QStringLiteral("The restore point %1 cannot be read: %2.")
                             .arg(r.point, got.image.reason.isEmpty() ? QStringLiteral("it is damaged") : got.image.reason);
            else if (calibration::ImageChecksum(got.image.image) != r.checksum)
                detail = QStringLiteral("The restore point %1 no longer holds the calibration this log was recorded with.")
                             .arg(r.point);
            else {
                detail = QStringLiteral("Recorded with restore point %1.\n\n").arg(r.point)
                         + AgainstEcu(got.image.image, [this](uint16_t a) { return EcuByte(a); }, !ReadPending && EcuAnswered);
                read = std::move(got);
            }
        }
        new QListWidgetItem(QStringLiteral("%1: %2").arg(span, r.point.isEmpty() ? QStringLiteral("not known") : r.point), list);
        reads.push_back(std::move(read));
        details.push_back(detail);
    }
    auto current = [list] { return list->currentRow(); };
    connect(list, &QListWidget::currentRowChanged, &dialog, [&, text, restore](int row) {
        text->setPlainText(row >= 0 && size_t(row) < details.size() ? details[size_t(row)] : QString());
        restore->setEnabled(row >= 0 && size_t(row) < reads.size() && reads[size_t(row)].has_value());
    });
    restore->setEnabled(false);
    if (!ranges.empty()) list->setCurrentRow(0);
    if (dialog.exec() != QDialog::Accepted) return;
    const int row = current();
    if (row < 0 || size_t(row) >= reads.size() || !reads[size_t(row)] || CalibrationWalkRunning()) return;
    const QString name = ranges[size_t(row)].point;
    UploadCalibrationRead(points.ImageFile(name), *reads[size_t(row)], QStringLiteral("before restoring %1").arg(name));
}

void TForm1::SaveLogCalibrations(const QString& logFile)
{
    const int samples = logging::SampleCount(*Chart10);
    if (LoggingActive && Log.AwaitsPoint()) CurrentRestorePoint();   // the calibration running now
    const std::vector<logging::LogStretchRange> ranges = logging::StretchRanges(Log.Stretches(), samples);
    const QString side = logging::CalibrationSideFile(logFile);
    if (ranges.empty()) {
        // A side file of ours from an earlier log of this name would describe another log.
        const base::FileBytes old = base::ReadRegularFile(side, qint64(16) << 20);
        if (old.status == base::FileBytes::Ok && logging::IsLogCalibrationFile(old.bytes)) QFile::remove(side);
        return;
    }
    QString reason;
    if (!base::SaveFile(side, logging::EncodeLogCalibrations(ranges, samples), &reason))
        StatusBar1->SetPanelText(MessagePanel, QStringLiteral("The log's calibrations were not saved beside it: %1").arg(reason));
}

void TForm1::LoadLogCalibrations(const QString& logFile)
{
    const int samples = logging::SampleCount(*Chart10);
    const base::FileBytes file = base::ReadRegularFile(logging::CalibrationSideFile(logFile), qint64(16) << 20);
    if (file.status == base::FileBytes::Ok) {
        QString problem;
        if (const auto ranges = logging::DecodeLogCalibrations(file.bytes, samples, &problem)) {
            std::vector<logging::LogState::Stretch> stretches;
            int next = 0;
            for (const logging::LogStretchRange& r : *ranges) {
                if (r.first > next) stretches.push_back({next, {}, {}});   // samples no point covers
                stretches.push_back({r.first, r.point, r.checksum});
                next = r.last + 1;
            }
            if (next < samples) stretches.push_back({next, {}, {}});
            Log.AdoptStretches(std::move(stretches));
        } else {
            StatusBar1->SetPanelText(MessagePanel, QStringLiteral("%1 ignored: %2")
                                                       .arg(QFileInfo(logging::CalibrationSideFile(logFile)).fileName(), problem));
        }
    }
    // Loaded while recording: what is recorded from here on is a stretch of its own.
    if (LoggingActive) Log.BeginStretch(samples);
    ShowLogCalibrationOffer();
}
