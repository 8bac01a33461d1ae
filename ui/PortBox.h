// PortBox: the editable drop-down of serial port names. Its list is filled afresh the moment it
// drops down (OnDropDown), so it shows the adapters plugged in since, and a new list never
// changes the text being typed nor counts as a change of it.
#pragma once

#include <QComboBox>

#include <functional>

class PortBox : public QComboBox {
    Q_OBJECT
public:
    explicit PortBox(QWidget* parent = nullptr);

    // Replaces the list; the text in the box stays as it is and no change is signalled.
    void SetNames(const QStringList& names);
    QStringList Names() const;

    std::function<void()> OnDropDown;

    void showPopup() override;
};
