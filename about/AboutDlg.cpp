#include "about/AboutDlg.h"

#include <QLabel>
#include <QListWidget>
#include <QStyle>

#include "res/AppIcon.h"
#include "res/ResourceIds.h"
#include "res/Strings.h"

namespace about {

CAboutDlg::CAboutDlg(QWidget* parent) : TemplateDialog(res::kAboutBox, parent) {
    // The template's first control is the icon.
    auto* icon = qobject_cast<QLabel*>(ControlAt(0));
    if (icon != nullptr) {
        const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize);
        icon->setPixmap(res::LoadAppIcon().pixmap(extent, extent));
    }
}

void CAboutDlg::DoDataExchange() { list_ = GetItem<QListWidget>(res::IDC_ABOUT_LIST); }

void CAboutDlg::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    for (std::string_view line : res::kAboutLines) {
        list_->addItem(QString::fromUtf8(line.data(), static_cast<int>(line.size())));
    }
}

}  // namespace about
