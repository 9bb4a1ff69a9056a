#pragma once
// The tray's usage window: today, this month and the last 30 days as lines of
// figures, the 30 days as a bar chart, and this month's voters with their
// time held and byte share. It shows what its source gives, again each second
// while it is open; the same report every view shows (UsageReport).
#include <QDialog>
#include <QWidget>
#include <functional>

#include "UsageReport.h"

class QLabel;
class QTableWidget;
class QTimer;

namespace linkmoot {

/// The bars of the last 30 days (bytes in and out), today's set apart.
class UsageChart : public QWidget {
    Q_OBJECT
public:
    explicit UsageChart(QWidget* parent = nullptr);
    void setDays(const std::vector<DayUsage>& days);
    const std::vector<DayUsage>& days() const { return shown; }
    QSize sizeHint() const override { return {420, 140}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<DayUsage> shown;
};

class UsageWindow : public QDialog {
    Q_OBJECT
public:
    explicit UsageWindow(QWidget* parent = nullptr);
    /// Shows the source's figures now and each second while visible; an
    /// empty source stops it.
    void setSource(std::function<UsageReport()> figures);
    /// Reads the source again.
    void refresh();

    /// What is shown, for the tests: the report, the figure lines and the table.
    const UsageReport& report() const { return shown; }
    QString figuresText() const;
    QTableWidget* voters() const { return table; }
    UsageChart* chart() const { return bars; }

private:
    std::function<UsageReport()> source;
    UsageReport shown;
    QLabel* figures;
    UsageChart* bars;
    QTableWidget* table;
    QTimer* timer;
};

}  // namespace linkmoot
