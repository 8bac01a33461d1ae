// A line of live values above a map page's maps, or, while live values on the map pages are
// off, one line saying so with a button that switches them on. Each value is a label named for
// a screen reader ("RPM", "MAP (kPa)"); a value written equal to the one shown repaints nothing.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QStackedLayout;

class LiveStrip : public QWidget {
    Q_OBJECT
public:
    struct Item {
        QString name;   // caption and accessible name, e.g. "RPM"
        QString unit;   // after the value, may be empty
    };
    LiveStrip(const std::vector<Item>& items, QWidget* parent = nullptr);

    static QString NoValue() { return QStringLiteral("\u2014"); }   // "—": nothing fresh

    void SetValue(int index, const QString& text);   // the text without its unit; NoValue() when stale
    QString Value(int index) const;
    QLabel* ValueLabel(int index) const { return values_.at(std::size_t(index)); }
    int Count() const { return int(values_.size()); }

    // On: the values; off: the line with its button.
    void SetOn(bool on);
    bool On() const { return on_; }
    QLabel* OffLine() const { return offLine_; }
    QPushButton* SwitchOnButton() const { return switchOn_; }
    std::function<void()> OnSwitchOn;   // the button was pressed

private:
    std::vector<QLabel*> values_;
    std::vector<QString> units_;
    QStackedLayout* stack_ = nullptr;
    QWidget* valuesPage_ = nullptr;
    QWidget* offPage_ = nullptr;
    QLabel* offLine_ = nullptr;
    QPushButton* switchOn_ = nullptr;
    bool on_ = false;
};
