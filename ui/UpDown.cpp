#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int kWidth = 17;

QToolButton* makeArrow(QWidget* parent, Qt::ArrowType arrow, const char* name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setArrowType(arrow);
    button->setAutoRepeat(true);          // held down, it keeps stepping
    button->setFocusPolicy(Qt::NoFocus);  // the keyboard steps it from the edit
    button->setMinimumSize(0, 0);
    return button;
}

// The number in the edit, as the user typed it or the program wrote it.
bool parseNumber(const QString& text, int& value)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    value = trimmed.toInt(&ok);
    if (!ok) value = QLocale::system().toInt(trimmed, &ok);
    return ok;
}

}  // namespace

UpDown::UpDown(QWidget* parent)
    : QWidget(parent),
      up_(makeArrow(this, Qt::UpArrow, "up")),
      down_(makeArrow(this, Qt::DownArrow, "down"))
{
    connect(up_, &QToolButton::clicked, this, [this] { Click(btNext); });
    connect(down_, &QToolButton::clicked, this, [this] { Click(btPrev); });
    resize(sizeHint());
}

QSize UpDown::sizeHint() const
{
    return {kWidth, 21};
}

void UpDown::resizeEvent(QResizeEvent*)
{
    const int upHeight = height() / 2;
    up_->setGeometry(0, 0, width(), upHeight);
    down_->setGeometry(0, upHeight, width(), height() - upHeight);
}

void UpDown::SetAccessibleBaseName(const QString& name)
{
    setAccessibleName(name);
    up_->setAccessibleName(name + QStringLiteral(" up"));
    down_->setAccessibleName(name + QStringLiteral(" down"));
}

void UpDown::SetAssociate(QLineEdit* edit)
{
    if (associate_ == edit) return;
    if (associate_) associate_->removeEventFilter(this);
    associate_ = edit;
    watched_ = edit;
    if (!edit) return;
    if (parentWidget() != edit->parentWidget()) setParent(edit->parentWidget());
    edit->installEventFilter(this);
    followAssociate(edit);
    writeAssociate();
}

QLineEdit* UpDown::Associate() const
{
    return associate_.data();
}

void UpDown::followAssociate(const QWidget* edit)
{
    setGeometry(edit->x() + edit->width(), edit->y(), width() > 0 ? width() : kWidth,
                edit->height());
    setVisible(!edit->isHidden());
    setEnabled(edit->isEnabled());
}

void UpDown::writeAssociate()
{
    if (associate_) associate_->setText(QString::number(position_));
}

void UpDown::SetPosition(int v)
{
    position_ = v;
    writeAssociate();
}

bool UpDown::Click(TUDBtnType button)
{
    int start = position_;
    if (associate_ && !parseNumber(associate_->text(), start)) start = position_;

    const long long lo = std::min(min_, max_);
    const long long hi = std::max(min_, max_);
    const long long step = button == btNext ? increment_ : -static_cast<long long>(increment_);
    const int next = static_cast<int>(std::clamp(start + step, lo, hi));
    if (next == start) return false;   // at the end of the range: nothing happens

    position_ = next;
    writeAssociate();
    if (OnClick) OnClick(this, button);
    return true;
}

bool UpDown::eventFilter(QObject* watched, QEvent* event)
{
    if (watched && watched == watched_.data()) {
        switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                Click(key == Qt::Key_Up ? btNext : btPrev);
                return true;
            }
            break;
        }
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::EnabledChange:
            followAssociate(static_cast<QWidget*>(watched));
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QMenu* UpDown::CreateCommandMenu()
{
    QLineEdit* edit = Associate();
    QMenu* menu = edit ? edit->createStandardContextMenu() : new QMenu;
    menu->setObjectName(QStringLiteral("SettingCommandMenu"));
    menu->setAccessibleName(QStringLiteral("Setting commands"));
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Step up\tUp")), &QAction::triggered, this, [this] { Click(btNext); });
    connect(menu->addAction(QStringLiteral("Step down\tDown")), &QAction::triggered, this, [this] { Click(btPrev); });
    return menu;
}

