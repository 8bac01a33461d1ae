#include "ui/PortBox.h"

#include <QLineEdit>
#include <QSignalBlocker>

PortBox::PortBox(QWidget* parent) : QComboBox(parent) {}

QStringList PortBox::Names() const
{
    QStringList names;
    for (int i = 0; i < count(); ++i) names << itemText(i);
    return names;
}

void PortBox::SetNames(const QStringList& names)
{
    if (names == Names()) return;
    const QSignalBlocker quiet(this);
    const QString text = currentText();
    const int cursor = lineEdit() ? lineEdit()->cursorPosition() : 0;
    clear();
    addItems(names);
    const int at = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (at >= 0) setCurrentIndex(at);
    setEditText(text);
    if (lineEdit()) lineEdit()->setCursorPosition(cursor);
}

void PortBox::showPopup()
{
    if (OnDropDown) OnDropDown();
    QComboBox::showPopup();
}
