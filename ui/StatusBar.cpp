#include "ui/StatusBar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>

StatusBar::StatusBar(const std::vector<int>& widths, QWidget* parent)
    : QWidget(parent), widths_(widths), layout_(new QHBoxLayout(this))
{
    setObjectName(QStringLiteral("StatusBar"));
    setAccessibleName(QStringLiteral("Status bar"));
    layout_->setContentsMargins(0, 2, 0, 0);
    layout_->setSpacing(2);

    // Fixed in both directions, a panel never asks for a new layout when its text changes.
    const int panelHeight = fontMetrics().height() + 6;
    for (size_t i = 0; i < widths.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setAccessibleName(QStringLiteral("Status panel %1").arg(i));
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(2);
        panel->setFixedSize(qMax(widths[i], 0), panelHeight);
        layout_->addWidget(panel);
        panels_.push_back(panel);
    }
    layout_->addStretch(1);
    setFixedHeight(panelHeight + 2);

    setAutoFillBackground(true);
    color_ = ButtonFace();
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color_);
    setPalette(pal);
}

QColor StatusBar::ButtonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

QString StatusBar::PanelText(int i) const
{
    const QLabel* panel = Panel(i);
    return panel ? panel->text() : QString();
}

QLabel* StatusBar::Panel(int i) const
{
    return i >= 0 && i < PanelCount() ? panels_[static_cast<size_t>(i)] : nullptr;
}

void StatusBar::SetPanelText(int i, const QString& text)
{
    QLabel* panel = Panel(i);
    if (!panel || panel->text() == text) return;
    panel->setText(text);
    // The name says which panel it is; the description carries what it says.
    panel->setAccessibleDescription(text);
}

void StatusBar::SetColor(const QColor& color)
{
    if (color == color_) return;
    color_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color);
    setPalette(pal);
}

void StatusBar::SetStretchLast(bool on)
{
    if (on == stretchLast_ || panels_.empty()) return;
    stretchLast_ = on;
    QLabel* last = panels_.back();
    const int height = last->height();
    if (on) {
        last->setMinimumWidth(qMax(widths_.back(), 0));
        last->setMaximumWidth(QWIDGETSIZE_MAX);
        last->setFixedHeight(height);
        layout_->setStretchFactor(last, 1);
        layout_->setStretch(static_cast<int>(panels_.size()), 0);
    } else {
        last->setFixedSize(qMax(widths_.back(), 0), height);
        layout_->setStretchFactor(last, 0);
        layout_->setStretch(static_cast<int>(panels_.size()), 1);
    }
}
