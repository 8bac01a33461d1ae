// StatusBar: a row of fixed-width sunken text panels along the bottom of a window, with a
// background colour of its own (turned red by the program when the link to the ECU is lost).
// A text too wide for its panel widens that panel while it is shown.
// Texts change many times a second while the ECU is polled, so a write of the same text or
// colour costs nothing.
#pragma once

#include <QColor>
#include <QWidget>

#include <vector>

class QLabel;

class StatusBar : public QWidget {
    Q_OBJECT
public:
    StatusBar(const std::vector<int>& widths, QWidget* parent = nullptr);

    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int i) const;
    void SetPanelText(int i, const QString& text);
    // The panel itself (a QLabel), for layout checks and screen-reader names; nullptr outside.
    QLabel* Panel(int i) const;

    QColor Color() const { return color_; }
    void SetColor(const QColor& color);
    static QColor ButtonFace();

    // Whether the last panel takes the width left over (off: the space stays empty).
    void SetStretchLast(bool on);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlacePanels();
    int PanelWidth(size_t i) const;   // its given width, or its text's if that is wider

    std::vector<QLabel*> panels_;
    std::vector<int> widths_;
    QColor color_;
    bool stretchLast_ = false;
};
