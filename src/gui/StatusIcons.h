#pragma once
// The four status pictures, from compiled-in PNG files the build drew from the
// SVG files in resources/icons, shared by the tray icon, the status rows, the
// window and the welcome dialog. Each size of each picture is read once, when
// it is first needed.
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
