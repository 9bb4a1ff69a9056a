#pragma once
// The four status pictures, rendered once from the compiled-in SVG files and
// shared by the tray icon, the status rows, the window and the welcome dialog.
#include <QIcon>

#include "StatusModel.h"

namespace linkmoot {

class StatusIcons {
public:
    /// Renders every picture now, at the sizes a tray, a list and a window use.
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
