// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/AboutDlg.h"

#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <cstdio>

#include "res/AppIcon.h"
#include "res/ResourceIds.h"
#include "res/Strings.h"
#include "uart/PortSelection.h"

namespace about {

std::vector<std::string> AboutLines() {
    std::vector<std::string> lines{std::string(res::kAboutRule)};
    lines.insert(lines.end(), res::kAboutDescription.begin(), res::kAboutDescription.end());
    lines.emplace_back(res::kAboutRule);
    lines.emplace_back(res::kAboutPortsHeading);
    for (const uart::PortChoice& choice : uart::kPortTable) {
        char line[32];
        std::snprintf(line, sizeof line, "   %d = 0x%03X", choice.digit,
                      static_cast<unsigned>(choice.base));
        lines.emplace_back(line);
    }
    lines.emplace_back(res::kAboutRule);
    return lines;
}

CAboutDlg::CAboutDlg(QWidget* parent) : TemplateDialog(res::kAboutBox, parent) {
    // The template's first control is the icon.
    auto* icon = qobject_cast<QLabel*>(ControlAt(0));
    if (icon != nullptr) {
        const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize);
        icon->setPixmap(res::LoadAppIcon().pixmap(extent, extent));
    }
}

void CAboutDlg::DoDataExchange() {
    list_ = GetItem<QListWidget>(res::IDC_ABOUT_LIST);
}

void CAboutDlg::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    for (const std::string& line : AboutLines())
        list_->addItem(QString::fromStdString(line));
}

}  // namespace about
