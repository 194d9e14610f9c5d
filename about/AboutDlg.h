// SPDX-License-Identifier: GPL-3.0-or-later
// The About box: the program's icon and version, and a list with a short description and the
// table of command-line port digits.
#pragma once

#include <string>
#include <vector>

#include "dialog/TemplateDialog.h"

class QListWidget;

namespace about {

// The list's 22 lines: a rule, the description, a rule, the port digits as the port table has
// them ("   4 = 0x3E0"), a rule.
std::vector<std::string> AboutLines();

class CAboutDlg : public dialog::TemplateDialog {
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
