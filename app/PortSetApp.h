// SPDX-License-Identifier: GPL-3.0-or-later
// The application: Qt's start on the platform the user chose, the panel's modal run, and the
// window that says why the panel could not open.
#pragma once

#include <QString>
#include <cstdio>
#include <string>
#include <vector>

#include "uart/LineOutcome.h"

namespace app {

// Runs the panel modally as the program's only window.
class CPortSetApp {
  public:
    // `opened` is what opening the port came to, which the panel says as it opens.
    explicit CPortSetApp(QString screenshotPath = {}, bool hold = false,
                         uart::LineOutcome opened = {})
        : screenshotPath_(std::move(screenshotPath)), hold_(hold), opened_(std::move(opened)) {}

    // Builds the panel and runs it until it closes; the program then ends.
    void InitInstance();
    // Why the picture could not be saved; empty when it was, or none was asked for.
    const QString& ScreenshotFailure() const { return screenshotFailure_; }

  private:
    QString screenshotPath_;
    bool hold_;
    uart::LineOutcome opened_;
    QString screenshotFailure_;
};

// Starts Qt with the program name and the toolkit's options, runs the panel (with its Hold box
// ticked for `hold`, and saying what opening the port came to), and returns the exit status: 0,
// or 1 when the picture `screenshot` asks for could not be saved (said on `err`). Where the
// platform cannot start (an X server that does not answer), it says so and ends the process with
// status 1 instead of Qt's abort.
int RunPanel(const std::string& program, const std::vector<std::string>& toolkit,
             const std::string& screenshot, bool hold = false, const uart::LineOutcome& opened = {},
             std::FILE* err = stderr);

// Shows `message` in a window of its own, for a program started from a desktop menu, where
// nobody reads standard error. When the platform cannot start, the process exits with status 1
// without a word more: the message is on standard error already.
void ShowFailureWindow(const std::string& program, const std::vector<std::string>& toolkit,
                       const std::string& message);

// Whether Qt would have a platform to start on: one named by -platform or QT_QPA_PLATFORM, or a
// display (DISPLAY, WAYLAND_DISPLAY).
bool HasPlatform(const std::vector<std::string>& toolkit);
// Whether a person can see what that platform shows: not the offscreen or minimal ones.
bool HasVisiblePlatform(const std::vector<std::string>& toolkit);

}  // namespace app
