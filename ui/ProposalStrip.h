// A line under a map grid that shows, column by column under each cell, the change a proposal
// would make to it: an arrow and a percentage in a colour of their own (green up: more, orange
// down: less). It stands beside the grid rather than in it, so the grid's own colours (a value
// sent and not yet echoed, one never confirmed) stay as readable as ever. Hidden while nothing
// is proposed.
#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class ProposalStrip : public QWidget {
    Q_OBJECT
public:
    struct Proposal {
        double percent;    // the change, in percent of the current value
        QString detail;    // what the column's tooltip says ("RPM Fuel 3250: 98 -> 107, +9.2 %")
    };
    // Columns of colWidth pixels, the first leftMargin pixels from the strip's left edge (the
    // grid's frame), as the grid above draws them.
    ProposalStrip(int columns, int colWidth, int leftMargin, QWidget* parent = nullptr);

    // One entry per column; nullopt: nothing proposed there. An empty or all-empty list hides it.
    void SetProposals(const std::vector<std::optional<Proposal>>& proposals);
    void Clear() { SetProposals({}); }
    const std::vector<std::optional<Proposal>>& Proposals() const { return proposals_; }
    // The text drawn under a column ("+10", "-4"); empty where nothing is proposed.
    QString ColumnText(int column) const;

    static QColor Colour(double percent);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    int ColumnAt(int x) const;

    int columns_;
    int colWidth_;
    int leftMargin_;
    std::vector<std::optional<Proposal>> proposals_;
};
