// TCGauge: a small control showing an integer between MinValue and MaxValue as a whole
// percentage: plain text, a horizontal or vertical bar, a pie or a needle dial, with the
// percentage optionally written over it. Every paint composes the whole picture off-screen and
// puts it on screen in one copy, so a value that changes many times a second does not flicker.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>

#include <cstdint>
#include <stdexcept>

enum TCGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle { bsNone, bsSingle };

// Raised when a limit would invert the range; the gauge keeps its previous values.
class EGaugeRangeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole percentage of `progress` within min..max, rounded down; 0 for an empty range.
// Differences are taken in 64 bits, so no 32-bit range overflows.
int GaugePercent(int32_t minValue, int32_t maxValue, int32_t progress);

class QPainter;

class TCGauge : public QWidget {
    Q_OBJECT
public:
    explicit TCGauge(QWidget* parent = nullptr);

    int32_t MinValue() const { return minValue_; }
    int32_t MaxValue() const { return maxValue_; }
    int32_t Progress() const { return progress_; }
    TCGaugeKind Kind() const { return kind_; }
    bool ShowText() const { return showText_; }
    TBorderStyle BorderStyle() const { return borderStyle_; }
    QColor ForeColor() const { return foreColor_; }
    QColor BackColor() const { return backColor_; }
    QColor Color() const { return color_; }   // fills the corners around a pie or dial
    QFont Font() const { return font(); }     // of the percentage text

    // Each stores a different value and repaints at once.
    void SetKind(TCGaugeKind value);
    void SetShowText(bool value);
    void SetBorderStyle(TBorderStyle value);
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);
    void SetColor(const QColor& value);
    void SetFont(const QFont& value);

    // Throws EGaugeRangeError "Value must be between %d and %d" when v > MaxValue.
    void SetMinValue(int32_t v);
    // Ignores 0 altogether; throws EGaugeRangeError when v < MinValue.
    void SetMaxValue(int32_t v);
    // Clamps into the range; repaints only when the whole percentage changes.
    void SetProgress(int32_t v);
    // SetProgress(Progress + v), then repaints in any case.
    void AddProgress(int32_t v);

    int GetPercentDone() const;

    // The finished picture exactly as a paint puts it on screen.
    QImage RenderImage() const;
    // How many times the control has been painted on screen.
    int PaintCount() const { return paintCount_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Edges of the paint rectangle: left and top included, right and bottom excluded.
    struct TRect {
        int Left, Top, Right, Bottom;
    };

    void RepaintNow();
    void PaintAsNothing(QImage& overlay, const TRect& r) const;
    void PaintAsBar(QImage& overlay, const TRect& r) const;
    void BeginDial(QImage& overlay, const TRect& r, QPainter& painter) const;
    void PaintAsPie(QImage& overlay, const TRect& r) const;
    void PaintAsNeedle(QImage& overlay, const TRect& r) const;
    void PaintAsText(QImage& image, const TRect& r) const;

    int32_t minValue_ = 0;
    int32_t maxValue_ = 100;
    int32_t progress_ = 0;
    TCGaugeKind kind_ = gkHorizontalBar;
    bool showText_ = true;
    TBorderStyle borderStyle_ = bsSingle;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
    QColor color_ = Qt::white;
    int paintCount_ = 0;
};
