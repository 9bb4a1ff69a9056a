#pragma once
// The status view: one row per line of the status (the connection state, then
// one "Vote from ..." row per held vote), each a small picture and a text.
#include <QListWidget>

#include "StatusModel.h"

namespace linkmoot {

class StatusIcons;

class MainView : public QListWidget {
    Q_OBJECT
public:
    MainView(const StatusIcons& icons, QWidget* parent = nullptr);

    /// Drops every row and inserts the rows of the snapshot in order.
    void rebuild(const StatusSnapshot& snapshot);
    /// The picture of a row, for tests.
    StatusIcon rowIcon(int row) const;

private:
    const StatusIcons& icons;
};

}  // namespace linkmoot
