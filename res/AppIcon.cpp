// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/AppIcon.h"

#include <QPixmap>

namespace res {
namespace {

// An XPM file is C source: both sizes are compiled in and read from memory by Qt's own XPM
// reader. Through a file or a resource, QImageReader would load every image-format plugin to ask
// whether it reads XPM, and the resource would be unpacked first.
#include "res/icons/quorlix-16.xpm"
#include "res/icons/quorlix-32.xpm"

}  // namespace

QIcon LoadAppIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap(quorlix_32));
    icon.addPixmap(QPixmap(quorlix_16));
    return icon;
}

}  // namespace res
