#include "MainView.h"

#include "StatusIcons.h"

namespace linkmoot {

namespace {
constexpr int kIconRole = Qt::UserRole + 1;
}

MainView::MainView(const StatusIcons& icons, QWidget* parent) : QListWidget(parent), icons(icons) {
    // Rows in columns, small pictures, no headers.
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void MainView::rebuild(const StatusSnapshot& snapshot) {
    clear();
    for (const StatusRow& row : snapshot.rows) {
        auto* item = new QListWidgetItem(icons.icon(row.icon), QString::fromStdString(row.text));
        item->setData(kIconRole, static_cast<int>(row.icon));
        addItem(item);
    }
}

StatusIcon MainView::rowIcon(int row) const {
    return static_cast<StatusIcon>(item(row)->data(kIconRole).toInt());
}

}  // namespace linkmoot
