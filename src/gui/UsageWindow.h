#pragma once
// The tray's usage window: the data plan's figures when a plan is set (its
// cycle, used of the cap, the daily budget, the forecast, whether the cap
// holds), today, this month and the last 30 days as lines of figures, the 30
// days as a bar chart, and this month's voters with their time held and byte
// share. It shows what its source gives, again each second while it is open;
// the same report and plan text the other views show (UsageReport, planText).
#include <QDialog>
#include <QWidget>
#include <functional>

#include "FrontEnd.h"

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
    void setSource(std::function<UsageWindowFigures()> figures);
    /// Reads the source again.
    void refresh();

    /// What is shown, for the tests: the report, the figure lines, the plan's
    /// lines ("" when hidden) and the table.
    const UsageReport& report() const { return shown; }
    QString figuresText() const;
    QString planText() const;
    QTableWidget* voters() const { return table; }
    UsageChart* chart() const { return bars; }

private:
    std::function<UsageWindowFigures()> source;
    UsageReport shown;
    QLabel* plan;
    QLabel* figures;
    UsageChart* bars;
    QTableWidget* table;
    QTimer* timer;
};

}  // namespace linkmoot
