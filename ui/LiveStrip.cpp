#include "ui/LiveStrip.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>

LiveStrip::LiveStrip(const std::vector<Item>& items, QWidget* parent) : QWidget(parent)
{
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);

    valuesPage_ = new QWidget(this);
    auto* row = new QHBoxLayout(valuesPage_);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(6);
    QFont bold = font();
    bold.setBold(true);
    for (const Item& item : items) {
        auto* caption = new QLabel(item.name + QLatin1Char(':'), valuesPage_);
        auto* value = new QLabel(NoValue(), valuesPage_);
        value->setObjectName(QStringLiteral("LiveValue") + QString(item.name).remove(QLatin1Char(' ')));
        value->setAccessibleName(item.name);
        value->setFont(bold);
        // Room for the widest value, so a value changing its width moves nothing beside it; a fixed
        // size also keeps a new text from asking the page to lay itself out again, ten times a second.
        value->setFixedSize(value->fontMetrics().horizontalAdvance(QStringLiteral("00000 ") + item.unit),
                            value->sizeHint().height());
        value->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        caption->setBuddy(value);
        row->addWidget(caption);
        row->addWidget(value);
        values_.push_back(value);
        units_.push_back(item.unit);
    }
    row->addStretch(1);
    stack_->addWidget(valuesPage_);

    offPage_ = new QWidget(this);
    auto* offRow = new QHBoxLayout(offPage_);
    offRow->setContentsMargins(2, 0, 2, 0);
    offLine_ = new QLabel(QStringLiteral("Live values on map pages are off."), offPage_);
    offLine_->setObjectName(QStringLiteral("LiveOffLine"));
    switchOn_ = new QPushButton(QStringLiteral("Switch on"), offPage_);
    switchOn_->setObjectName(QStringLiteral("LiveSwitchOn"));
    switchOn_->setAccessibleName(QStringLiteral("Switch live values on map pages on"));
    connect(switchOn_, &QPushButton::clicked, this, [this] { if (OnSwitchOn) OnSwitchOn(); });
    offRow->addWidget(offLine_);
    offRow->addWidget(switchOn_);
    offRow->addStretch(1);
    stack_->addWidget(offPage_);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    SetOn(false);
    stack_->setCurrentWidget(offPage_);
}

void LiveStrip::SetValue(int index, const QString& text)
{
    if (index < 0 || index >= Count()) return;
    const QString unit = units_[std::size_t(index)];
    const QString shown = text == NoValue() || unit.isEmpty() ? text : text + QLatin1Char(' ') + unit;
    QLabel* label = values_[std::size_t(index)];
    if (label->text() != shown) label->setText(shown);
}

QString LiveStrip::Value(int index) const
{
    if (index < 0 || index >= Count()) return QString();
    return values_[std::size_t(index)]->text();
}

void LiveStrip::SetOn(bool on)
{
    on_ = on;
    stack_->setCurrentWidget(on ? valuesPage_ : offPage_);
}
