// The About box: the program's icon and version, and a list with a short description and the
// table of command-line port digits.
#pragma once

#include "panel/TemplateDialog.h"

class QListWidget;

namespace about {

class CAboutDlg : public panel::TemplateDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    void DoDataExchange() override;
    // Default processing first, then the lines are appended to the list.
    void showEvent(QShowEvent* event) override;

private:
    QListWidget* list_ = nullptr;
};

}  // namespace about
