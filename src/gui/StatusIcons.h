#pragma once
// The four status pictures, drawn by the build from the SVG files in
// resources/icons and compiled in as pixels, shared by the tray icon, the
// status rows, the window and the welcome dialog. Each size of each picture is
// read once, when it is first needed.
#include <QIcon>

#include "StatusModel.h"

namespace linkmoot {

class StatusIcons {
public:
    /// Reads and draws nothing yet.
    StatusIcons();

    const QIcon& icon(StatusIcon which) const;
    /// The cache key of the icon for `which`; tests compare against it.
    qint64 key(StatusIcon which) const { return icon(which).cacheKey(); }

private:
    QIcon idle;
    QIcon connected;
    QIcon disabled;
    QIcon voting;
};

}  // namespace linkmoot
