#include "ui/StatusBar.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

StatusBar::StatusBar(const std::vector<int>& widths, QWidget* parent)
    : QWidget(parent), widths_(widths)
{
    setObjectName(QStringLiteral("StatusBar"));
    setAccessibleName(QStringLiteral("Status bar"));

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
        panels_.push_back(panel);
    }
    setFixedHeight(panelHeight + 2);
    // Panels stand at fixed places, left to right; a bar narrower than all of them clips the
    // last ones instead of squeezing them over each other.
    setMinimumWidth(0);
    PlacePanels();

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
    if (PanelWidth(size_t(i)) != panel->width()) PlacePanels();
}

int StatusBar::PanelWidth(size_t i) const
{
    // A text wider than its panel (a long error in a narrow panel, a large font) widens the
    // panel while it is shown, so that nothing the program reports is cut; the panels right
    // of it move along. A panel is never narrower than the width it was given.
    // The label's own size hint cannot say it: a fixed-width label reports its width.
    const QLabel* panel = panels_[i];
    const int given = qMax(widths_[i], 0);
    if (panel->text().isEmpty()) return given;
    const QMargins frame = panel->contentsMargins();
    const int text = panel->fontMetrics().boundingRect(QRect(), Qt::TextSingleLine, panel->text()).width();
    return qMax(given, text + frame.left() + frame.right() + panel->indent() + 2 * panel->margin());
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
    PlacePanels();
}

void StatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (stretchLast_) PlacePanels();
}

void StatusBar::PlacePanels()
{
    constexpr int spacing = 2;
    int x = 0;
    for (size_t i = 0; i < panels_.size(); ++i) {
        QLabel* panel = panels_[i];
        int w = PanelWidth(i);
        if (stretchLast_ && i + 1 == panels_.size()) w = qMax(w, width() - x);
        panel->setGeometry(x, 2, w, panel->height());
        panel->setFixedWidth(w);
        x += w + spacing;
    }
}
