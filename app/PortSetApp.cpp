// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PortSetApp.h"

#include <unistd.h>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "os/StopSignals.h"
#include "panel/PortSetDlg.h"
#include "res/Version.h"

namespace app {
namespace {

// The platform that -platform (the last one given) or QT_QPA_PLATFORM names, or empty.
std::string NamedPlatform(const std::vector<std::string>& toolkit) {
    std::string named;
    for (std::size_t i = 0; i + 1 < toolkit.size(); ++i) {
        if (toolkit[i] == "-platform" || toolkit[i] == "--platform")
            named = toolkit[i + 1];
    }
    if (named.empty()) {
        if (const char* variable = std::getenv("QT_QPA_PLATFORM"))
            named = variable;
    }
    return named;
}

// Qt's argument vector: the program name and the toolkit's options, alive as long as Qt is.
class ToolkitArguments {
  public:
    ToolkitArguments(const std::string& program, const std::vector<std::string>& toolkit)
        : strings_{program} {
        strings_.insert(strings_.end(), toolkit.begin(), toolkit.end());
        for (std::string& argument : strings_)
            pointers_.push_back(argument.data());
        pointers_.push_back(nullptr);
        argc_ = static_cast<int>(strings_.size());
    }
    int& argc() { return argc_; }
    char** argv() { return pointers_.data(); }

  private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
    int argc_;
};

// While Qt starts its platform, its messages are held back: Qt ends the process with abort()
// when the platform cannot start, after a few lines of its own. Instead the process ends with
// status 1, with one line that names the first cause Qt gave ("could not connect to display
// :99"), or none when the caller has said everything already. A start that succeeds passes the
// held messages on.
struct PlatformStart {
    struct Held {
        QtMsgType type;
        QString text;
    };
    static inline bool quiet = false;
    static inline QList<Held> held;
    static inline QtMessageHandler previous = nullptr;

    static void Handle(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtFatalMsg) {
            held.append({type, text});
            return;
        }
        if (!quiet) {
            std::fprintf(stderr, "quorlix: the panel cannot open on this display: %s\n",
                         qPrintable(held.isEmpty() ? text : held.first().text));
        }
        std::fflush(nullptr);
        _exit(1);
    }
};

std::unique_ptr<QApplication> StartToolkit(ToolkitArguments& arguments, bool quiet) {
    PlatformStart::quiet = quiet;
    PlatformStart::held.clear();
    PlatformStart::previous = qInstallMessageHandler(&PlatformStart::Handle);
    auto application = std::make_unique<QApplication>(arguments.argc(), arguments.argv());
    qInstallMessageHandler(PlatformStart::previous);
    for (const PlatformStart::Held& message : std::exchange(PlatformStart::held, {})) {
        if (PlatformStart::previous != nullptr)
            PlatformStart::previous(message.type, QMessageLogContext(), message.text);
    }
    return application;
}

// Saves `picture` to `path` in the format its suffix names. Returns why it could not, or empty.
QString SavePicture(const QPixmap& picture, const QString& path) {
    const QByteArray format = QFileInfo(path).suffix().toLower().toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format))
        return QStringLiteral("its suffix names no picture format this program writes (.png)");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, format);
    return writer.write(picture.toImage()) ? QString() : writer.errorString();
}

}  // namespace

bool HasPlatform(const std::vector<std::string>& toolkit) {
    if (!NamedPlatform(toolkit).empty())
        return true;
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

bool HasVisiblePlatform(const std::vector<std::string>& toolkit) {
    if (!HasPlatform(toolkit))
        return false;
    // "offscreen", "minimal:..." or a list "xcb;offscreen", in any case: Qt falls back along
    // the list, so a window is seen only when no platform in it draws where nobody looks.
    const QStringList platforms =
        QString::fromStdString(NamedPlatform(toolkit)).split(u';', Qt::SkipEmptyParts);
    return std::none_of(platforms.begin(), platforms.end(), [](const QString& platform) {
        const QString name = platform.section(u':', 0, 0).trimmed().toLower();
        return name == u"offscreen" || name == u"minimal" || name == u"minimalegl";
    });
}

void CPortSetApp::InitInstance() {
    panel::CPortSetDlg dialog;
    dialog.SetHold(hold_);
    dialog.SetOpened(opened_);
    if (!screenshotPath_.isEmpty()) {
        // Once the panel is up, keep a picture of it and close it.
        QTimer::singleShot(500, &dialog, [this, &dialog] {
            screenshotFailure_ = SavePicture(dialog.grab(), screenshotPath_);
            dialog.accept();
        });
    }
    dialog.DoModal();  // OK or Cancel: either way the program ends
}

int RunPanel(const std::string& program, const std::vector<std::string>& toolkit,
             const std::string& screenshot, bool hold, const uart::LineOutcome& opened,
             std::FILE* err) {
    // Blocked before Qt starts a thread, so that every thread it starts has them blocked too:
    // only the main thread takes them, between two events, never while it is in the middle of
    // a register sequence with the divisor latch open.
    os::BlockedStopSignals stopSignals;
    ToolkitArguments arguments(program, toolkit);
    const auto application = StartToolkit(arguments, false);
    std::unique_ptr<QSocketNotifier> stop;
    if (stopSignals.Fd() >= 0) {
        stop = std::make_unique<QSocketNotifier>(stopSignals.Fd(), QSocketNotifier::Read);
        QObject::connect(stop.get(), &QSocketNotifier::activated,
                         [&stopSignals] { stopSignals.EndAsSignalled(); });
    }
    QApplication::setApplicationName(QStringLiteral("quorlix"));
    QApplication::setApplicationVersion(QString::fromLatin1(
        res::kVersionDotted.data(), static_cast<int>(res::kVersionDotted.size())));
    CPortSetApp app(QString::fromStdString(screenshot), hold, opened);
    app.InitInstance();
    if (!app.ScreenshotFailure().isEmpty()) {
        std::fprintf(err, "quorlix: cannot save the picture of the panel to %s: %s\n",
                     screenshot.c_str(), qPrintable(app.ScreenshotFailure()));
        return 1;
    }
    return 0;
}

void ShowFailureWindow(const std::string& program, const std::vector<std::string>& toolkit,
                       const std::string& message) {
    ToolkitArguments arguments(program, toolkit);
    const auto application = StartToolkit(arguments, true);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quorlix"),
                    QString::fromLocal8Bit(message.c_str()).trimmed(), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("IDD_FAILURE"));
    box.exec();
}

}  // namespace app
