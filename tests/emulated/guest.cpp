// SPDX-License-Identifier: GPL-3.0-or-later
// Runs inside the emulated PC, as root with real port instructions: the scripted cases over the
// I/O ports at several bases, the panel driven as a user would, and the program's own command
// line for the serial-driver and no-permission cases. Cases are separated by marker writes to
// the UART's scratch register so that the emulator's trace can be cut into them.
//
//   quorlix_guest scripted DIGIT      every framing case, then the modem-line cases
//   quorlix_guest panel DIGIT         presets, framing, step buttons, DTR and a slider drag
//   quorlix_guest run ARGS...         the program itself
//   quorlix_guest noperm ARGS...      the program itself, as nobody without CAP_SYS_RAWIO
//   quorlix_guest setcap FILE         gives FILE cap_sys_rawio+ep, as setcap(8) would
//   quorlix_guest as UID PROGRAM ARGS...  runs PROGRAM as that user, with nothing inherited
#include <grp.h>
#include <sys/capability.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../support/SliderHandle.h"
#include "Scenarios.h"
#include "app/Startup.h"
#include "dialog/TrackbarSlider.h"
#include "panel/PortSetDlg.h"
#include "res/ResourceIds.h"
#include "uart/DirectPortIo.h"
#include "uart/LineSettings.h"
#include "uart/PortSelection.h"

namespace {

std::uint16_t BaseOf(const char* digit) {
    const std::string line = std::string("quorlix ") + digit;
    return static_cast<std::uint16_t>(uart::SelectPortFromCommandLine(line.c_str()));
}

void Mark(std::uint16_t base, std::uint8_t marker) {
    uart::ThePortIo().Out(base + 7, marker);
}

// The UART's ports for this process, or null after saying why.
std::unique_ptr<uart::DirectPortIo> Ports(std::uint16_t base) {
    uart::LineOutcome opened;
    auto io = uart::DirectPortIo::Acquire(base, opened);
    if (!io)
        std::fprintf(stdout, "%s\n", opened.notice.c_str());
    return io;
}

int Scripted(std::uint16_t base) {
    auto io = Ports(base);
    if (!io)
        return 1;
    const uart::ScopedPortIo installed(*io);
    for (const emulated::FramingCase& c : emulated::FramingCases()) {
        Mark(base, emulated::kCaseMarker);
        uart::LineSettings = {base, c.parity, c.wordLength, c.stop};
        uart::ProgramUart(base, c.rate);
    }
    Mark(base, emulated::kCaseMarker);
    io->Out(base + 4, emulated::kModemSetup);
    for (const emulated::ModemCase& c : emulated::kModemCases) {
        Mark(base, emulated::kCaseMarker);
        uart::SetModemLine(c.mask, c.on);
    }
    Mark(base, emulated::kEndMarker);
    std::printf("scripted 0x%X: %zu cases\n", base,
                emulated::FramingCases().size() + 1 + emulated::kModemCases.size());
    return 0;
}

int Panel(int argc, char** argv, const char* digit) {
    const std::uint16_t base = BaseOf(digit);
    auto io = Ports(base);
    if (!io)
        return 1;
    const uart::ScopedPortIo installed(*io);
    uart::SetProcessCommandLine(std::string("quorlix ") + digit);
    QApplication application(argc, argv);
    panel::CPortSetDlg panel;
    panel.show();
    if (!QTest::qWaitForWindowExposed(&panel))
        return 1;
    const auto click = [&](int id) {
        Mark(base, emulated::kCaseMarker);
        panel.GetItem<QAbstractButton>(id)->click();
        QCoreApplication::processEvents();
    };
    click(res::IDC_RATE_74_2);
    click(res::IDC_PARITY_ODD);
    click(res::IDC_BITS_8);
    click(res::IDC_STOP_1);
    click(res::IDC_STEP_UP);
    click(res::IDC_STEP_DOWN);
    click(res::IDC_RATE_300_0);
    click(res::IDC_DTR);
    click(res::IDC_RATE_45_45);

    // A drag of the slider: the release programs what the display shows.
    Mark(base, emulated::kCaseMarker);
    auto* slider = panel.GetItem<dialog::TrackbarSlider>(res::IDC_RATE_SLIDER);
    const QPoint at = HandleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, at);
    for (int dy : {10, 25, 40}) {
        QTest::mouseMove(slider, at + QPoint(0, dy));
        QCoreApplication::processEvents();
    }
    const QString shown = panel.GetItem<QLineEdit>(res::IDC_RATE_DISPLAY)->text();
    QTest::mouseRelease(slider, Qt::LeftButton, {}, at + QPoint(0, 40));
    Mark(base, emulated::kEndMarker);
    std::printf("panel drag display: %s\n", shown.toLatin1().constData());
    return 0;
}

int Run(int argc, char** argv) {
    // As from a terminal's foreground: the guest's shell starts its background cases with
    // Ctrl+C ignored, which the program keeps ignored, and the bridge's case sends it one.
    std::signal(SIGINT, SIG_DFL);
    const int status = app::Main(argc, argv);
    std::fflush(stderr);
    std::printf("status: %d\n", status);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "scripted") == 0)
        return Scripted(BaseOf(argv[2]));
    if (argc >= 3 && std::strcmp(argv[1], "panel") == 0)
        return Panel(argc - 2, argv + 2, argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0)
        return Run(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "noperm") == 0) {
        // Nobody, with no capability left: the kernel must refuse the ports.
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0) {
            std::perror("quorlix_guest: dropping root");
            return 3;
        }
        return Run(argc - 1, argv + 1);
    }
    if (argc == 3 && std::strcmp(argv[1], "setcap") == 0) {
        cap_t caps = cap_from_text("cap_sys_rawio+ep");
        const int status = caps != nullptr && cap_set_file(argv[2], caps) == 0 ? 0 : 1;
        if (status != 0)
            std::perror("quorlix_guest: setcap");
        cap_free(caps);
        return status;
    }
    if (argc >= 4 && std::strcmp(argv[1], "as") == 0) {
        const auto id = static_cast<unsigned>(std::atoi(argv[2]));
        if (setgroups(0, nullptr) != 0 || setresgid(id, id, id) != 0 ||
            setresuid(id, id, id) != 0) {
            std::perror("quorlix_guest: as");
            return 3;
        }
        execv(argv[3], argv + 3);
        std::perror("quorlix_guest: exec");
        return 3;
    }
    std::fputs(
        "usage: quorlix_guest scripted|panel DIGIT | run|noperm ARGS... | setcap FILE | "
        "as UID PROGRAM ARGS...\n",
        stderr);
    return 2;
}
