// SPDX-License-Identifier: GPL-3.0-or-later
// Measures quorlix against baselines in the same run on the same machine and prints ratios:
// - start-up time and peak memory of `quorlix --simulate` against a plain dialog with the same 29
//   controls, in interleaved pairs: offscreen to the first paint, and on a virtual X server (Xvfb)
//   from the spawn to the window being mapped; with the two mappings (a file, or a kind such as
//   [heap]) whose resident memory then exceeds the plain dialog's by the most;
// - the CPU each event bound for the slider costs with the panel's look-ahead, against the same
//   panel done as a Qt developer would do it (valueChanged writes the display, sliderReleased
//   programs the rate), against valueChanged alone, and against a slider that writes nothing;
// - the port accesses and serial-driver calls each action costs.
//
//   quorlix_bench [--runs N] [--events N]     (defaults 9 and 10000; --smoke: 2 and 200)
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeDriverPort.h"
#include "FakeSerialDriver.h"
#include "SliderHandle.h"
#include "app/Startup.h"
#include "dialog/TemplateDialog.h"
#include "dialog/TrackbarSlider.h"
#include "panel/PortSetDlg.h"
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"
#include "uart/PortSelection.h"
#include "uart/RecordingPortIo.h"

extern char** environ;

namespace {

double Seconds(const timespec& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The same clock in every process, so that a child's report can be set against its spawn.
double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return Seconds(t);
}

double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return Seconds(t);
}

long PeakRssKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

// Resident kB of each mapping of this process now, a file's segments together under the file's
// name, the rest by kind ([heap], [stack], [anon] for an unnamed one...). Empty when /proc cannot
// say.
using Resident = std::map<std::string, long>;
Resident ResidentByMapping() {
    Resident kib;
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    long* mapping = nullptr;
    while (std::getline(smaps, line)) {
        if (line.empty())
            continue;
        if (std::isxdigit(static_cast<unsigned char>(line[0])) != 0 &&
            std::isupper(static_cast<unsigned char>(line[0])) == 0) {
            // A mapping starts with its address in lower-case hex, its fields ("Rss:   4 kB")
            // with a capital: "start-end perms offset device inode", then the name, if any.
            std::size_t at = 0;
            for (int field = 0; field < 5 && at != std::string::npos; ++field)
                at = line.find_first_not_of(' ', line.find(' ', at));
            std::string name = at == std::string::npos ? "[anon]" : line.substr(at);
            if (name[0] == '/')
                name.erase(0, name.rfind('/') + 1);
            mapping = &kib[name];
        } else if (mapping != nullptr && line.rfind("Rss:", 0) == 0) {
            *mapping += std::strtol(line.c_str() + 4, nullptr, 10);
        }
    }
    return kib;
}

struct Spread {
    double min, median, max;
};
Spread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

void Row(const char* what, const std::vector<double>& ratios, const char* target) {
    const Spread s = SpreadOf(ratios);
    std::printf("%-50s %8.3f %8.3f %8.3f   %s\n", what, s.min, s.median, s.max, target);
}

// --- start-up, in child processes --------------------------------------------------------------

// In a child: how far the platform has to get before the window counts as up.
enum class Ready { FirstPaint, Mapped };
std::optional<Ready> childReady;  // set in a child only

// In a child: reports the monotonic time and the peak memory when the first top-level window is
// up, then closes it. On an X server that is its first expose, which comes once the server has
// mapped the window; offscreen, where nothing is mapped, it is the first paint.
class ReadyProbe : public QObject {
  public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (done_ || !IsUp(watched, event->type()))
            return false;
        done_ = true;
        std::printf("%.9f %ld\n", Now(), PeakRssKib());
        // Then where that memory lies, read once the figures above are taken: "kB name" a line.
        for (const auto& [name, kib] : ResidentByMapping())
            std::printf("%ld %s\n", kib, name.c_str());
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, [] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible())
                    window->close();
            }
        });
        return false;
    }

  private:
    static bool IsUp(QObject* watched, QEvent::Type type) {
        if (*childReady == Ready::Mapped) {
            const auto* window = qobject_cast<QWindow*>(watched);
            return type == QEvent::Expose && window != nullptr && window->isTopLevel() &&
                   window->isExposed();
        }
        const auto* widget = qobject_cast<QWidget*>(watched);
        return type == QEvent::Paint && widget != nullptr && widget->isWindow();
    }

    bool done_ = false;
};

void InstallProbe() {
    if (childReady)
        qApp->installEventFilter(new ReadyProbe(qApp));
}
Q_COREAPP_STARTUP_FUNCTION(InstallProbe)

// The baseline: a plain QDialog holding the same 29 controls at the same places.
int RunBareDialog(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    const QFont font(QStringLiteral("MS Sans Serif"), 8);
    dialog.setFont(font);
    const dialog::DialogUnits units = dialog::DialogUnits::ForFont(font);
    for (const res::ControlTemplate& row : res::kPortSetDialog.controls) {
        const QString text = QString::fromUtf8(row.text);
        QWidget* widget = nullptr;
        switch (row.kind) {
            case res::ControlKind::GroupBox:
                widget = new QGroupBox(text, &dialog);
                break;
            case res::ControlKind::AutoRadioButton:
                widget = new QRadioButton(text, &dialog);
                break;
            case res::ControlKind::AutoCheckBox:
                widget = new QCheckBox(text, &dialog);
                break;
            case res::ControlKind::Edit:
                widget = new QLineEdit(text, &dialog);
                break;
            case res::ControlKind::Trackbar:
                widget = new QSlider(Qt::Vertical, &dialog);
                break;
            default:
                widget = new QPushButton(text, &dialog);
                break;
        }
        widget->setGeometry(units.ToPixels(row.rect));
    }
    dialog.setFixedSize(units.ToPixels(res::kPortSetDialog.width, res::kPortSetDialog.height));
    dialog.exec();
    return 0;
}

// Where the start-up children show their window: offscreen, or on an X server.
struct Screen {
    const char* name;      // for the report
    const char* platform;  // Qt's platform plugin
    std::string display;   // DISPLAY, on an X server
};

struct StartSample {
    double seconds;
    double peakKib;
    Resident resident;  // by mapping, as the child reported it
};

// The start-up children get this long to show their window.
constexpr int kChildTimeoutMs = 30000;

// Starts this program as a child showing `mode` ("panel" or "bare") on `screen`, and waits for
// it. Returns the time from the spawn to the window's being up and the child's peak memory by
// then; nothing, with the reason on standard error, when the child did not get there or did not
// exit cleanly.
std::optional<StartSample> SpawnAndWait(const char* self, const char* mode, const Screen& screen) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::perror("quorlix_bench: pipe");
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::string ready = screen.display.empty() ? "paint" : "mapped";
    std::string displayVariable = "DISPLAY=" + screen.display;
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::strncmp(*variable, "DISPLAY=", 8) != 0)
            environment.push_back(*variable);
    }
    if (!screen.display.empty())
        environment.push_back(displayVariable.data());
    environment.push_back(nullptr);
    std::string child = "--child", modeArgument = mode, platformOption = "-platform";
    std::string platform = screen.platform;
    std::array<char*, 7> args{const_cast<char*>(self),
                              child.data(),
                              modeArgument.data(),
                              ready.data(),
                              platformOption.data(),
                              platform.data(),
                              nullptr};

    const double started = Now();
    pid_t pid = 0;
    const int spawnError =
        posix_spawn(&pid, self, &actions, nullptr, args.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawnError != 0) {
        close(pipeFds[0]);
        std::fprintf(stderr, "quorlix_bench: cannot start the %s child: %s\n", mode,
                     std::strerror(spawnError));
        return std::nullopt;
    }
    std::string output;
    char buffer[256];
    bool timedOut = false;
    for (;;) {
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (poll(&readable, 1, kChildTimeoutMs) == 0) {
            timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    double upAt = 0;
    long peak = 0;
    const bool reported = std::sscanf(output.c_str(), "%lf %ld", &upAt, &peak) == 2;
    Resident resident;
    for (std::size_t at = output.find('\n'); at != std::string::npos && at + 1 < output.size();) {
        const std::size_t end = output.find('\n', at + 1);
        const std::string line = output.substr(at + 1, end - at - 1);
        char* name = nullptr;
        const long kib = std::strtol(line.c_str(), &name, 10);
        if (name != line.c_str() && *name == ' ' && name[1] != '\0')
            resident[name + 1] += kib;
        at = end;
    }
    if (timedOut) {
        std::fprintf(stderr, "quorlix_bench: the %s child showed nothing within %d s on %s\n", mode,
                     kChildTimeoutMs / 1000, screen.name);
    } else if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "quorlix_bench: the %s child was killed by signal %d on %s\n", mode,
                     WTERMSIG(status), screen.name);
    } else if (WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "quorlix_bench: the %s child exited with status %d on %s\n", mode,
                     WEXITSTATUS(status), screen.name);
    } else if (!reported || upAt <= started || peak <= 0) {
        std::fprintf(stderr, "quorlix_bench: the %s child reported nothing on %s\n", mode,
                     screen.name);
    } else {
        return StartSample{upAt - started, static_cast<double>(peak), std::move(resident)};
    }
    return std::nullopt;
}

struct StartupFigures {
    std::vector<double> timeRatios, rssRatios, ourMilliseconds, bareMilliseconds;
    std::vector<Resident> residentDifferences;  // a pair's, ours - bare, by mapping
};

// The two mappings with the largest median excess over the pairs, ours - bare: "name +N kB, ...";
// "none" when nothing exceeds, "not known" when the children could not say.
std::string LargestDifferences(const std::vector<Resident>& differences) {
    std::map<std::string, std::vector<double>> byName;
    for (const Resident& pair : differences) {
        for (const auto& [name, kib] : pair)
            byName[name];
    }
    if (byName.empty())
        return "not known";
    std::vector<std::pair<double, std::string>> medians;
    for (auto& [name, values] : byName) {
        for (const Resident& pair : differences) {
            const auto found = pair.find(name);
            values.push_back(found != pair.end() ? static_cast<double>(found->second) : 0.0);
        }
        const double median = SpreadOf(values).median;
        if (median > 0)
            medians.emplace_back(median, name);
    }
    std::sort(medians.begin(), medians.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    std::string text;
    for (std::size_t i = 0; i < medians.size() && i < 2; ++i) {
        char item[160];
        std::snprintf(item, sizeof item, "%s%s +%.0f kB", i == 0 ? "" : ", ",
                      medians[i].second.c_str(), medians[i].first);
        text += item;
    }
    return text.empty() ? "none" : text;
}

// quorlix and the bare dialog in turn (A B A B ...), each pair giving one ratio, after one pair
// that only warms the caches.
std::optional<StartupFigures> MeasureStartup(const char* self, const Screen& screen, int runs) {
    StartupFigures figures;
    for (int run = -1; run < runs; ++run) {
        const std::optional<StartSample> ours = SpawnAndWait(self, "panel", screen);
        const std::optional<StartSample> bare = SpawnAndWait(self, "bare", screen);
        if (!ours || !bare)
            return std::nullopt;
        if (run < 0)
            continue;
        figures.timeRatios.push_back(ours->seconds / bare->seconds);
        figures.rssRatios.push_back(ours->peakKib / bare->peakKib);
        figures.ourMilliseconds.push_back(ours->seconds * 1000);
        figures.bareMilliseconds.push_back(bare->seconds * 1000);
        Resident difference = ours->resident;
        for (const auto& [name, kib] : bare->resident)
            difference[name] -= kib;
        if (!ours->resident.empty() && !bare->resident.empty())
            figures.residentDifferences.push_back(std::move(difference));
    }
    return figures;
}

// A virtual X server for the start-up children, for as long as the benchmark runs.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            failure_ = std::strerror(errno);
            return;
        }
        fcntl(pipeFds[1], F_SETFD, 0);  // Xvfb writes its display number here
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::string program = "Xvfb", displayFd = "-displayfd", fd = std::to_string(pipeFds[1]);
        std::string noTcp = "-nolisten", tcp = "tcp", screen = "-screen", first = "0";
        std::string size = "1280x1024x24";
        std::array<char*, 10> args{program.data(), displayFd.data(), fd.data(),    noTcp.data(),
                                   tcp.data(),     screen.data(),    first.data(), size.data(),
                                   nullptr,        nullptr};
        const int spawnError = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        if (spawnError != 0) {
            close(pipeFds[0]);
            pid_ = 0;
            failure_ = std::string("Xvfb: ") + std::strerror(spawnError);
            return;
        }
        // Xvfb writes the number once it accepts clients.
        std::string number;
        char c = 0;
        pollfd readable{pipeFds[0], POLLIN, 0};
        while (poll(&readable, 1, 10000) > 0 && read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(pipeFds[0]);
        if (number.empty() || c != '\n') {
            failure_ = "Xvfb did not start";
            return;
        }
        display_ = ":" + number;
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when there is none; then Failure() says why.
    const std::string& Display() const { return display_; }
    const std::string& Failure() const { return failure_; }

  private:
    pid_t pid_ = 0;
    std::string display_, failure_;
};

// --- the slider look-ahead ---------------------------------------------------------------------

class EmptyFilter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent*) override { return false; }
};

// Events bound for the slider as a user makes them, in rounds of 92: the pointer passing over it,
// a drag of its handle (down and up in turn), keys, repaints. Returns the number of events.
constexpr int kRoundEvents = 20 + 1 + 40 + 1 + 20 + 10;
int Drive(QSlider* slider, int rounds, int& drags) {
    for (int round = 0; round < rounds; ++round, ++drags) {
        for (int hover = 0; hover < 20; ++hover)
            QTest::mouseMove(slider, QPoint(slider->width() / 2, slider->height() * hover / 20));
        const QPoint handle = HandleCentre(slider);
        const QPoint step(0, drags % 2 == 0 ? 3 : -3);
        QTest::mousePress(slider, Qt::LeftButton, {}, handle);
        for (int move = 1; move <= 40; ++move)
            QTest::mouseMove(slider, handle + move * step);
        QTest::mouseRelease(slider, Qt::LeftButton, {}, handle + 40 * step);
        for (int key = 0; key < 20; ++key)
            QTest::keyPress(slider, key % 2 ? Qt::Key_Down : Qt::Key_Up);
        for (int paint = 0; paint < 10; ++paint)
            slider->repaint();
    }
    return rounds * kRoundEvents;
}

// The same panel four ways: with its look-ahead; with the look-ahead replaced by what a Qt
// developer would write, valueChanged writing the same text into the same display and
// sliderReleased programming the rate; with valueChanged alone; and with a filter that does
// nothing, so that the display is never written.
enum Variant { kLookAhead, kIdiomatic, kValueChanged, kBare, kVariants };

std::unique_ptr<panel::CPortSetDlg> MakePanel(Variant variant) {
    auto panel = std::make_unique<panel::CPortSetDlg>();
    panel->show();
    (void)QTest::qWaitForWindowExposed(panel.get());
    panel->OnRatePreset(panel::kRatePresets[3]);
    auto* slider = panel->GetItem<QSlider>(res::IDC_RATE_SLIDER);
    auto* display = panel->GetItem<QLineEdit>(res::IDC_RATE_DISPLAY);
    if (variant == kLookAhead)
        return panel;
    slider->removeEventFilter(panel.get());
    if (variant == kIdiomatic || variant == kValueChanged) {
        QObject::connect(slider, &QSlider::valueChanged, display, [display](int position) {
            display->setText(QString::asprintf("%6.2f", position / 100.0));
        });
    }
    if (variant == kIdiomatic) {
        QObject::connect(
            slider, &QSlider::sliderReleased, panel.get(),
            [shown = panel.get(), slider] { shown->ApplyLineSettings(slider->value() / 100.0); });
    }
    if (variant == kBare)
        slider->installEventFilter(new EmptyFilter(panel.get()));
    return panel;
}

struct LookAheadSample {
    std::array<double, kVariants> microseconds;
    int lost;
};

// Each variant's CPU per event, the four driven in turn in ten slices so that a change in the
// machine's load falls on all of them alike. `events` is rounded to whole rounds of Drive.
LookAheadSample MeasureLookAhead(int events) {
    uart::RecordingPortIo io;
    const uart::ScopedPortIo installed(io);
    uart::LineSettings = uart::LineSettingsData{};
    std::array<std::unique_ptr<panel::CPortSetDlg>, kVariants> panels;
    std::array<QSlider*, kVariants> sliders{};
    std::array<int, kVariants> drags{};
    constexpr int kSlices = 10;
    const int rounds = std::max(1, events / kRoundEvents / kSlices);
    for (std::size_t variant = 0; variant < kVariants; ++variant) {
        panels[variant] = MakePanel(static_cast<Variant>(variant));
        sliders[variant] = panels[variant]->GetItem<QSlider>(res::IDC_RATE_SLIDER);
        Drive(sliders[variant], rounds, drags[variant]);  // warm up
    }
    std::array<double, kVariants> cpu{};
    std::array<int, kVariants> driven{};
    for (std::size_t turn = 0; turn < kSlices * kVariants; ++turn) {
        const std::size_t variant = (turn + turn / kVariants) % kVariants;
        const double start = CpuNow();
        driven[variant] += Drive(sliders[variant], rounds, drags[variant]);
        cpu[variant] += CpuNow() - start;
    }
    LookAheadSample sample{};
    for (std::size_t variant = 0; variant < kVariants; ++variant)
        sample.microseconds[variant] = cpu[variant] / driven[variant] * 1e6;

    // Lost updates: a queued event bound for the slider that left the display unwritten.
    QSlider* slider = sliders[kLookAhead];
    auto* display = panels[kLookAhead]->GetItem<QLineEdit>(res::IDC_RATE_DISPLAY);
    for (int i = 0; i < std::min(events, 500); ++i) {
        display->setText(QStringLiteral("?"));
        QTest::keyPress(slider, i % 2 ? Qt::Key_Down : Qt::Key_Up);
        if (display->text() == QStringLiteral("?"))
            ++sample.lost;
    }
    return sample;
}

// --- accesses and driver calls per action ------------------------------------------------------

struct Counts {
    int startup, rate, framing, modem;
};

Counts CountAccesses() {
    uart::RecordingPortIo io;
    io.SetReadValue(0x2FC, 0x08);
    const uart::ScopedPortIo installed(io);
    uart::LineSettings = uart::LineSettingsData{};
    uart::SetProcessCommandLine("quorlix 2");
    Counts counts{};
    panel::CPortSetDlg panel;
    panel.show();
    (void)QTest::qWaitForWindowExposed(&panel);
    counts.startup = static_cast<int>(io.Accesses().size());
    io.Clear();
    panel.GetItem<QAbstractButton>(res::IDC_RATE_74_2)->click();
    counts.rate = static_cast<int>(io.Accesses().size());
    io.Clear();
    panel.GetItem<QAbstractButton>(res::IDC_PARITY_EVEN)->click();
    counts.framing = static_cast<int>(io.Accesses().size());
    io.Clear();
    panel.GetItem<QAbstractButton>(res::IDC_DTR)->click();
    counts.modem = static_cast<int>(io.Accesses().size());
    return counts;
}

Counts CountDriverCalls() {
    FakeDriverPort port;
    FakeSerialDriver* driver = port.driver;
    Counts counts{};
    uart::ProgramUart(0x2F8, 74.2);
    counts.rate = static_cast<int>(driver->calls.size());
    driver->calls.clear();
    uart::LineSettings.parityBits = 0x18;
    uart::ProgramUart(0x2F8, 0);
    counts.framing = static_cast<int>(driver->calls.size());
    driver->calls.clear();
    uart::SetModemLine(0x01, true);
    counts.modem = static_cast<int>(driver->calls.size());
    return counts;
}

// The child's side of a start-up measurement: --child panel|bare paint|mapped [Qt options].
int RunChild(int argc, char** argv) {
    childReady = std::strcmp(argv[3], "mapped") == 0 ? Ready::Mapped : Ready::FirstPaint;
    std::vector<char*> rest{argv[0]};
    for (int i = 4; i < argc; ++i)
        rest.push_back(argv[i]);
    if (std::strcmp(argv[2], "panel") == 0) {
        std::string simulate = "--simulate";
        std::vector<char*> args{argv[0], simulate.data()};
        args.insert(args.end(), rest.begin() + 1, rest.end());
        args.push_back(nullptr);
        std::FILE* sink = std::fopen("/dev/null", "w");
        const int status =
            app::Main(static_cast<int>(args.size() - 1), args.data(), {nullptr, sink, stderr});
        std::fclose(sink);
        return status;
    }
    rest.push_back(nullptr);
    return RunBareDialog(static_cast<int>(rest.size() - 1), rest.data());
}

void StartupRows(const char* screen, const char* up, const std::optional<StartupFigures>& f) {
    char what[64];
    if (!f) {
        std::snprintf(what, sizeof what, "start-up and peak RSS, %s", screen);
        std::printf("%-50s skipped: no X server\n", what);
        return;
    }
    std::snprintf(what, sizeof what, "start-up to %s, %s", up, screen);
    Row(what, f->timeRatios, "<= 1.10");
    std::snprintf(what, sizeof what, "peak RSS at %s, %s", up, screen);
    Row(what, f->rssRatios, "<= 1.03");
    std::printf("%-50s %s\n", "  resident most above the bare dialog (median)",
                LargestDifferences(f->residentDifferences).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0)
        return RunChild(argc, argv);

    int runs = 9, events = 10000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            runs = 2, events = 200;
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        if (std::strcmp(argv[i], "--events") == 0 && i + 1 < argc)
            events = std::max(100, std::atoi(argv[++i]));
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const std::optional<StartupFigures> offscreen =
        MeasureStartup(argv[0], {"offscreen", "offscreen", ""}, runs);
    if (!offscreen)
        return 1;
    std::optional<StartupFigures> onX;
    {
        const VirtualDisplay x;
        if (x.Display().empty()) {
            std::fprintf(stderr, "quorlix_bench: no virtual X server (%s): its rows are skipped\n",
                         x.Failure().c_str());
        } else {
            onX = MeasureStartup(argv[0], {"Xvfb", "xcb", x.Display()}, runs);
            if (!onX)
                return 1;
        }
    }

    int argcQt = 1;
    QApplication application(argcQt, argv);
    int lost = 0;
    std::array<std::vector<double>, kVariants> microseconds;
    std::array<std::vector<double>, kVariants> ratios;  // the look-ahead against each
    for (int run = 0; run < runs; ++run) {
        const LookAheadSample sample = MeasureLookAhead(events);
        for (std::size_t variant = 0; variant < kVariants; ++variant) {
            microseconds[variant].push_back(sample.microseconds[variant]);
            ratios[variant].push_back(sample.microseconds[kLookAhead] /
                                      sample.microseconds[variant]);
        }
        lost += sample.lost;
    }
    const Counts accesses = CountAccesses();
    const Counts calls = CountDriverCalls();

    std::printf("quorlix against baselines, %d runs, %d slider events a run\n\n", runs, events);
    std::printf("%-50s %8s %8s %8s   %s\n", "ratio (ours / baseline)", "min", "median", "max",
                "target");
    StartupRows("offscreen", "first paint", offscreen);
    StartupRows("Xvfb", "window mapped", onX);
    Row("CPU per slider event, against idiomatic Qt", ratios[kIdiomatic], "<= 1.05");
    Row("CPU per slider event, against valueChanged alone", ratios[kValueChanged], "-");
    Row("CPU per slider event, against bare slider", ratios[kBare], "-");
    std::printf("\n%-50s %8s %8s\n", "median ms from spawn", "quorlix", "bare");
    std::printf("%-50s %8.1f %8.1f\n", "to first paint, offscreen",
                SpreadOf(offscreen->ourMilliseconds).median,
                SpreadOf(offscreen->bareMilliseconds).median);
    if (onX) {
        std::printf("%-50s %8.1f %8.1f\n", "to window mapped, Xvfb",
                    SpreadOf(onX->ourMilliseconds).median, SpreadOf(onX->bareMilliseconds).median);
    }
    std::printf("\n%-50s %8s %8s %8s %8s\n", "median CPU us per slider event", "look-ah.", "idiom.",
                "valueCh.", "bare");
    std::printf("%-50s", "");
    for (const std::vector<double>& variant : microseconds)
        std::printf(" %8.1f", SpreadOf(variant).median);
    std::printf("\n");
    std::printf("%-50s %8d   %s\n\n", "slider events that lost an update", lost, "0");

    // The driver backend reads the terminal's settings fresh before each change and reads back
    // what it set: a rate change is read, set and read back for both the divisor and the
    // termios, a framing change for the termios only, a modem line is read and then raised or
    // dropped.
    std::printf("%-50s %8s %8s\n", "per action", "measured", "expected");
    std::printf("%-50s %8d %8d\n", "port accesses at start-up", accesses.startup, 0);
    std::printf("%-50s %8d %8d\n", "port accesses for a rate change", accesses.rate, 4);
    std::printf("%-50s %8d %8d\n", "port accesses for a framing change", accesses.framing, 1);
    std::printf("%-50s %8d %8d\n", "port accesses for a modem line", accesses.modem, 2);
    std::printf("%-50s %8d %8d\n", "driver calls for a rate change", calls.rate, 6);
    std::printf("%-50s %8d %8d\n", "driver calls for a framing change", calls.framing, 3);
    std::printf("%-50s %8d %8d\n", "driver calls for a modem line", calls.modem, 2);
    const bool exact = accesses.startup == 0 && accesses.rate == 4 && accesses.framing == 1 &&
                       accesses.modem == 2 && calls.rate == 6 && calls.framing == 3 &&
                       calls.modem == 2 && lost == 0;
    return exact ? 0 : 1;
}
