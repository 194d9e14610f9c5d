// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/AppIcon.h"

namespace res {

QIcon LoadAppIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/quorlix/icons/quorlix-32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/quorlix/icons/quorlix-16.xpm"), QSize(16, 16));
    return icon;
}

}  // namespace res
