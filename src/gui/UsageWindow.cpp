#include "UsageWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "UsageText.h"

namespace linkmoot {

namespace {

QString line(const char* title, const PeriodUsage& period) {
    const UsageFigures& f = period.figures;
    return QStringLiteral(
               "%1 (from %2): %3 online, %4 in, %5 out, %6 session(s), %7 failed dial(s)")
        .arg(QString::fromUtf8(title), QString::fromStdString(isoDate(period.from)),
             QString::fromStdString(formatDuration(f.onlineMs)),
             QString::fromStdString(formatBytes(f.bytesIn)),
             QString::fromStdString(formatBytes(f.bytesOut)))
        .arg(f.sessions)
        .arg(f.failedDials);
}

}  // namespace

UsageChart::UsageChart(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(120);
}

void UsageChart::setDays(const std::vector<DayUsage>& days) {
    shown = days;
    update();
}

void UsageChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect().adjusted(4, 4, -4, -18);
    uint64_t most = 1;
    for (const DayUsage& day : shown)
        most = std::max(most, day.figures.bytesIn + day.figures.bytesOut);
    const double width = shown.empty() ? 0.0 : static_cast<double>(area.width()) / shown.size();
    const QColor bar = palette().color(QPalette::Highlight);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const uint64_t bytes = shown[i].figures.bytesIn + shown[i].figures.bytesOut;
        const int height = static_cast<int>(area.height() * static_cast<double>(bytes) / most);
        const QRectF box(area.left() + i * width + 1, area.bottom() - height, width - 2, height);
        painter.fillRect(box, i + 1 == shown.size() ? bar.darker(130) : bar);
    }
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    if (!shown.empty()) {
        painter.drawText(QRect(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignLeft,
                         QString::fromStdString(isoDate(shown.front().date)));
        painter.drawText(QRect(area.left(), area.bottom() + 2, area.width(), 16), Qt::AlignRight,
                         QStringLiteral("top %1").arg(QString::fromStdString(formatBytes(most))));
    }
}

UsageWindow::UsageWindow(QWidget* parent)
    : QDialog(parent),
      plan(new QLabel(this)),
      figures(new QLabel(this)),
      bars(new UsageChart(this)),
      table(new QTableWidget(0, 4, this)),
      timer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("Linkmoot - Usage"));
    // Plain text: the plan's lines are ours, but never read as markup.
    plan->setTextFormat(Qt::PlainText);
    plan->setTextInteractionFlags(Qt::TextSelectableByMouse);
    plan->hide();
    figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    table->setHorizontalHeaderLabels({QStringLiteral("Voter"), QStringLiteral("Time held"),
                                      QStringLiteral("Share in"), QStringLiteral("Share out")});
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plan);
    layout->addWidget(figures);
    layout->addWidget(new QLabel(QStringLiteral("The last 30 days (bytes in and out):"), this));
    layout->addWidget(bars);
    layout->addWidget(new QLabel(
        QStringLiteral("Voters this month (a share divides each moment's bytes among the votes "
                       "held then):"),
        this));
    layout->addWidget(table);
    resize(520, 580);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
}

void UsageWindow::setSource(std::function<UsageWindowFigures()> figuresSource) {
    source = std::move(figuresSource);
    if (!source) {
        timer->stop();
        hide();
        return;
    }
    refresh();
    timer->start();
}

void UsageWindow::refresh() {
    if (!source)
        return;
    UsageWindowFigures latest = source();
    shown = std::move(latest.usage);
    // No plan: the window stays as it was before there were plans.
    const QString planLines = QString::fromStdString(latest.plan).trimmed();
    plan->setText(planLines);
    plan->setVisible(!planLines.isEmpty());
    QString text = line("Today", shown.day) + "\n" + line("This month", shown.month) + "\n" +
                   line("Last 30 days", shown.last30);
    if (!shown.problem.empty())
        text += QStringLiteral("\n(only this run's figures: %1)")
                    .arg(QString::fromStdString(shown.problem));
    figures->setText(text);
    bars->setDays(shown.days);
    table->setRowCount(static_cast<int>(shown.month.voters.size()));
    int row = 0;
    for (const VoterFigures& voter : shown.month.voters) {
        // Names come from the network: shown as plain text, never as markup.
        const QString cells[] = {QString::fromStdString(voter.name),
                                 QString::fromStdString(formatDuration(voter.heldMs)),
                                 QString::fromStdString(formatBytes(voter.shareIn)),
                                 QString::fromStdString(formatBytes(voter.shareOut))};
        for (int column = 0; column < 4; ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
        ++row;
    }
}

QString UsageWindow::figuresText() const {
    return figures->text();
}

QString UsageWindow::planText() const {
    return plan->text();
}

}  // namespace linkmoot
