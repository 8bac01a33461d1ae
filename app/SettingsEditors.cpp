// The scalar settings' editors: leaving an edit or clicking its spin arrows sends the setting.
// Also the one place that builds a setting's row of controls, for every page that holds one.
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>

#include "app/Mainform.h"
#include "calibration/SettingEditors.h"
#include "ecu/Zcomm.h"
#include "ui/Beep.h"
#include "ui/PageControl.h"

namespace {

constexpr int EditWidth = 40;
constexpr int EditHeight = 21;
constexpr int LabelHeight = 14;

// Qt offers no desktop caption colours; this is the common default of the inactive caption,
// the colour every setting edit shares so that settings stand apart from live readings.
const QColor SettingEditColor(191, 205, 219);
const QColor LockWarningRed(255, 0, 0);

void SetEditColor(QLineEdit* edit, const QColor& color)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, color);
    edit->setPalette(palette);
}

void SetTextColor(QLineEdit* edit, const QColor& color)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, color.isValid() ? color : QApplication::palette(edit).color(QPalette::Text));
    edit->setPalette(palette);
}

// Runs the leave handler when the focus moves from a setting edit to another control. Focus
// lost because the window itself went inactive (another window, a dialog, a menu) is not a
// leave: the edit still holds the focus within the window.
class LeaveWatcher : public QObject {
public:
    LeaveWatcher(QObject* parent, TZComm* link, std::function<void(QObject*)> onLeave)
        : QObject(parent), link_(link), onLeave_(std::move(onLeave))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            auto* edit = qobject_cast<QLineEdit*>(watched);
            // The window being taken apart moves the focus too; by then the link may be gone.
            if (edit && link_ && edit->window()->isVisible() && reason != Qt::ActiveWindowFocusReason
                && reason != Qt::PopupFocusReason)
                onLeave_(edit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<TZComm> link_;
    std::function<void(QObject*)> onLeave_;
};

QString UnitText(const calibration::SettingLayout& s)
{
    return s.unitLabel ? QString::fromUtf8(s.unitLabel) : QString();
}

// What a screen reader says for the edit: its label with its unit, else its group's caption.
QString SpokenName(const calibration::SettingLayout& s)
{
    QString name = QString::fromUtf8(calibration::AccessibleName(s));
    if (s.unitLabel) name += QLatin1Char(' ') + UnitText(s);
    return name;
}

// The setting as a status message names it: its group and its label ("IDLE Fuel"), or the one
// of them it has.
std::string MessageName(const calibration::SettingLayout& s)
{
    QString label = s.label ? QString::fromUtf8(s.label).trimmed() : QString();
    if (label.endsWith(QLatin1Char(':'))) label.chop(1);
    const QString group = s.group ? QString::fromUtf8(s.group) : QString();
    const QString name = label.isEmpty() ? group : group.isEmpty() ? label : group + QLatin1Char(' ') + label;
    return name.toStdString();
}

}  // namespace

QLineEdit* TForm1::BuildSettingRow(int address, QWidget* parent, QPoint at, SettingLabels labels,
                                   int labelWidth)
{
    const calibration::SettingLayout* s = calibration::SettingByAddress(address);
    if (!s) return nullptr;
    static const char* const watcherName = "SettingLeaveWatcher";
    auto* watcher = findChild<LeaveWatcher*>(QLatin1String(watcherName), Qt::FindDirectChildrenOnly);
    if (!watcher) {
        watcher = new LeaveWatcher(this, ZComm1, [this](QObject* edit) { txtIdleFuelExit(edit); });
        watcher->setObjectName(QLatin1String(watcherName));
    }

    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(s->edit));
    edit->setAccessibleName(SpokenName(*s));
    edit->setProperty("Tag", s->address);
    edit->setReadOnly(s->readOnly);
    SetEditColor(edit, SettingEditColor);

    QPoint editAt = at;
    auto makeLabel = [&](const QString& text, QRect geometry, const char* suffix) {
        auto* label = new QLabel(text, parent);
        label->setObjectName(QLatin1String(s->edit) + QLatin1String(suffix));
        label->setGeometry(geometry);
        label->setBuddy(edit);
        return label;
    };
    if (labels == SettingLabels::Left && s->label) {
        makeLabel(QString::fromUtf8(s->label), QRect(at.x(), at.y(), labelWidth, EditHeight), "Label");
        editAt.rx() += labelWidth;
    } else if (labels == SettingLabels::Above && s->label) {
        makeLabel(QString::fromUtf8(s->label), QRect(at.x(), at.y(), labelWidth, LabelHeight), "Label");
        editAt.ry() += LabelHeight;
        if (s->unitLabel) {
            makeLabel(UnitText(*s), QRect(at.x(), editAt.y(), labelWidth, LabelHeight), "Unit");
            editAt.ry() += LabelHeight;
        }
        editAt.ry() += 2;
    }
    edit->setGeometry(QRect(editAt, QSize(EditWidth, EditHeight)));
    // A unit label of a row with its label at the left stands after the spin control.
    if (labels == SettingLabels::Left && s->unitLabel) {
        auto* unit = new QLabel(UnitText(*s), parent);
        unit->setObjectName(QLatin1String(s->edit) + QLatin1String("Unit"));
        unit->setGeometry(editAt.x() + EditWidth + 20, editAt.y(), 40, EditHeight);
        unit->setBuddy(edit);
    }

    auto* spin = new UpDown(parent);
    spin->setObjectName(QLatin1String(s->spin));
    spin->SetAccessibleBaseName(SpokenName(*s));
    spin->SetMin(s->spinMin);
    spin->SetMax(s->spinMax);
    spin->SetIncrement(s->spinStep);
    spin->SetTag(s->spinTag);
    spin->SetAssociate(edit);
    spin->SetPosition(s->startValue);
    spin->OnClick = [this](QObject* sender, UpDown::TUDBtnType button) { updownBaseFuelClick(sender, button); };

    edit->installEventFilter(watcher);
    // The steps where the right mouse button looks for them, beside the edit's own commands.
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(edit, &QLineEdit::customContextMenuRequested, spin, [this, edit, spin, address](const QPoint& at) {
        QMenu* menu = spin->CreateCommandMenu();
        AddCompareCommands(menu, nullptr, address);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(edit->mapToGlobal(at));
    });
    SettingEdit[address] = edit;
    SettingSpin[address] = spin;
    switch (address) {
    case calibration::LockAddress: txtTPSDwell = edit; updownLockAdvance = spin; break;
    case calibration::PrimingAddress: UpDown7 = spin; break;
    case 450: txtTPSZero = edit; updownTPSZero = spin; break;
    case 451: txtTPSMax = edit; updownTPSMax = spin; break;
    default: break;
    }
    return edit;
}

bool TForm1::LockEditRed() const
{
    return txtTPSDwell && txtTPSDwell->palette().color(QPalette::Base) == LockWarningRed;
}

void TForm1::txtIdleFuelExit(QObject* Sender)
{
    const auto* edit = qobject_cast<const QLineEdit*>(Sender);
    if (!edit) return;
    const int tag = edit->property("Tag").toInt();
    const std::string typed = edit->text().toStdString();
    const calibration::SettingLeave leave = calibration::LeaveSetting(ReadPending != 0, UploadActive != 0, tag, typed);
    switch (leave.action) {
    case calibration::SettingLeave::Nothing: break;
    case calibration::SettingLeave::Beep: {
        ui::Beep();
        // The edit goes back to what the ECU holds, and the status bar says why and what fits.
        const calibration::SettingLayout* setting = calibration::SettingByAddress(tag);
        const auto spin = SettingSpin.find(tag);
        if (!setting || spin == SettingSpin.end()) break;
        const std::optional<uint8_t> byte = ShownByte(uint16_t(tag));
        spin->second->SetPosition(byte ? calibration::ShownValue(setting->encoding, *byte) : setting->startValue);
        ShowEditMessage(QString::fromStdString(
            calibration::RefusalText(MessageName(*setting), setting->encoding, typed)));
        break;
    }
    case calibration::SettingLeave::Send:
        ClearEditMessage();
        WriteByte(leave.address, leave.data);
        break;
    }
}

void TForm1::updownBaseFuelClick(QObject* Sender, UpDown::TUDBtnType)
{
    auto* spin = qobject_cast<UpDown*>(Sender);
    if (!spin) return;
    txtIdleFuelExit(spin->Associate());
    if (spin->Tag() == calibration::LockSpinTag && LockEditRed()) {
        SetEditColor(txtTPSDwell, SettingEditColor);
        ShowSettingMark(calibration::LockAddress);   // the write just sent shows under the red
    }
}

void TForm1::ShowSettingMark(int address)
{
    const auto found = SettingEdit.find(address);
    const calibration::SettingLayout* setting = calibration::SettingByAddress(address);
    if (found == SettingEdit.end() || !setting) return;
    QLineEdit* edit = found->second;
    const calibration::WriteMark mark = Marks.Mark(static_cast<uint16_t>(address));
    StringGrid::CellMark look = StringGrid::CellMark::None;
    if (mark == calibration::WriteMark::Pending) look = StringGrid::CellMark::Pending;
    if (mark == calibration::WriteMark::Failed) look = StringGrid::CellMark::Failed;
    // The lock's warning red says more than a mark: it stays until its spin control is used.
    if (!(address == calibration::LockAddress && LockEditRed()))
        SetEditColor(edit, look == StringGrid::CellMark::None ? SettingEditColor : StringGrid::MarkBackground(look));
    SetTextColor(edit, StringGrid::MarkForeground(look));
    QFont font = edit->font();
    font.setItalic(look == StringGrid::CellMark::Pending);
    edit->setFont(font);
    // A setting that differs from a compared file: a blue frame, which leaves the mark's colours.
    const QString compared = CompareToolTip(static_cast<uint16_t>(address), setting->encoding);
    settingCompareTip_[address] = compared;
    const bool framed = !compared.isEmpty();
    // Drawn by a frame laid over the edit, so that the edit's own colours (a mark, the lock's
    // red) stay as they are.
    const QString frameName = edit->objectName() + QStringLiteral("Compared");
    auto* frame = edit->findChild<QFrame*>(frameName, Qt::FindDirectChildrenOnly);
    if (framed && !frame) {
        frame = new QFrame(edit);
        frame->setObjectName(frameName);
        frame->setAccessibleName(QStringLiteral("Differs from the compared file"));
        frame->setStyleSheet(QStringLiteral("QFrame { border: 2px solid %1; background: transparent; }")
                                 .arg(StringGrid::ComparedColor().name()));
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->setFocusPolicy(Qt::NoFocus);
    }
    if (frame) {
        frame->setGeometry(edit->rect());
        frame->setVisible(framed);
    }
    QString tip = MarkToolTip(static_cast<uint16_t>(address), setting->encoding);
    if (framed) tip = tip.isEmpty() ? compared : tip + QLatin1Char('\n') + compared;
    edit->setToolTip(tip);
    edit->setAccessibleDescription(tip);
}

void TForm1::ShowInvalidLock(uint8_t byte)
{
    // Neither off nor on: the tuner is taken to the setting and must look at it.
    PageControl1->SetActivePageIndex(calibration::PageSetup);
    txtTPSDwell->setText(QString::number(byte));
    SetEditColor(txtTPSDwell, LockWarningRed);
    txtTPSDwell->setFocus();
}
