// SPDX-License-Identifier: GPL-3.0-or-later
// The program from its command line to the panel: help and version, the refused port
// permission, and a start that touches no register.
#include <grp.h>
#include <sys/capability.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>

#include "FakeSysfs.h"
#include "MainRunner.h"
#include "PortStandIn.h"
#include "app/Backend.h"
#include "app/Options.h"
#include "app/PortSetApp.h"
#include "app/Privileges.h"
#include "app/Startup.h"
#include "res/Version.h"
#include "uart/LineSettings.h"
#include "uart/PortIo.h"
#include "uart/RecordingPortIo.h"

namespace {

struct IopermCall {
    unsigned long from = 0, num = 0;
    int turnOn = -1;
    int calls = 0;
    int leftBefore = 0;  // LeavePrivilege calls made before this one
};
IopermCall lastIoperm;
int refusalErrno = EPERM;

int RefusingIoperm(unsigned long from, unsigned long num, int turnOn) {
    lastIoperm = {from, num, turnOn, lastIoperm.calls + 1, PrivilegeStandIn::left};
    errno = refusalErrno;
    return -1;
}

ProgramRun RunMain(const QStringList& arguments) {
    PrivilegeStandIn::left = 0;
    return RunProgram(arguments, &RefusingIoperm);
}

// One line of /proc/self/status (or another such file), e.g. "CapEff:\t0000000000000000".
QByteArray StatusLine(const QByteArray& name, const QString& file = "/proc/self/status") {
    QFile status(file);
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed();
    }
    return {};
}

// The program itself, as a desktop or a script starts it, with `environment` added.
struct ProcessRun {
    bool finished = false;
    QProcess::ExitStatus how = QProcess::CrashExit;
    int status = -1;
    QString err;
};
ProcessRun RunBinary(const QStringList& arguments, const QStringList& environment) {
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        variables.remove(QLatin1String(name));
    for (const QString& assignment : environment)
        variables.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
    process.setProcessEnvironment(variables);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(QUORLIX_BINARY), arguments);
    ProcessRun run;
    // A failure nobody can see must end at once; a hang shows as a time-out here.
    run.finished = process.waitForFinished(15000);
    if (!run.finished)
        process.kill();
    run.how = process.exitStatus();
    run.status = process.exitCode();
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

}  // namespace

class Startup : public QObject {
    Q_OBJECT

  private slots:
    void init() { uart::LineSettings = {}; }  // each run starts as a fresh process would

    void helpAndVersionNeedNoPort() {
        const ProgramRun help = RunMain({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(
            help.out.startsWith("Usage: quorlix [--simulate | --device PATH] [--trace] [DIGIT]"));
        QVERIFY(help.out.contains("4 = 0x3E0"));
        const ProgramRun version = RunMain({"--version"});
        QCOMPARE(version.status, 0);
        const QString dotted = QString::fromLatin1(
            res::kVersionDotted.data(), static_cast<qsizetype>(res::kVersionDotted.size()));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                     .match(dotted)
                     .hasMatch(),
                 qPrintable(dotted));  // made from the project's version
        QCOMPARE(version.out, "quorlix " + dotted + "\n");
        QCOMPARE(lastIoperm.calls, 0);
    }

    void helpAndManPageNameTheSameOptions() {
        QFile page(QStringLiteral(QUORLIX_SOURCE_DIR "/res/linux/quorlix.1"));
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString man = QString::fromUtf8(page.readAll()).remove(QStringLiteral("\\"));
        const QString help = QString::fromStdString(app::UsageText());
        static const QRegularExpression option(QStringLiteral("--[a-z]+"));
        QStringList inHelp;
        for (const auto& match : option.globalMatch(help))
            inHelp << match.captured();
        inHelp.removeDuplicates();
        QVERIFY(inHelp.size() >= 9);
        for (const QString& name : inHelp)
            QVERIFY2(man.contains(name), qPrintable(name));
        for (const char* digit :
             {"0x3F8", "0x2F8", "0x3E8", "0x3E0", "0x2F0", "0x2E8", "0x2E0", "0x260"}) {
            QVERIFY(man.contains(QLatin1String(digit)) && help.contains(QLatin1String(digit)));
        }
    }

    void rejectedCommandLinesTouchNothing_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("a misspelt option")
            << QStringList{"--simulat"} << "unknown option --simulat";
        QTest::newRow("one dash is no digit: -simulate goes nowhere")
            << QStringList{"-simulate", "--apply", "45.45"} << "unknown option -simulate";
        QTest::newRow("-device") << QStringList{"--trace", "-device", "/tmp/x", "--apply", "45.45"}
                                 << "unknown option -device";
        QTest::newRow("-apply does not leave DTR alone to be set")
            << QStringList{"--simulate", "-apply", "45.45", "--dtr", "on"}
            << "unknown option -apply";
        QTest::newRow("-bogus") << QStringList{"-bogus"} << "unknown option -bogus";
        QTest::newRow("--device followed by an option: no file named --apply")
            << QStringList{"--device", "--apply", "45.45"} << "--device needs a value";
        QTest::newRow("an empty device path")
            << QStringList{"--device", "", "--apply", "45.45"} << "--device needs the path";
        QTest::newRow("simulated and driver at once")
            << QStringList{"--simulate", "--device", "/dev/ttyS1"}
            << "--simulate and --device exclude each other";
        QTest::newRow("a Qt option without its value")
            << QStringList{"-platform"} << "-platform needs a value";
        QTest::newRow("an option where Qt's value belongs")
            << QStringList{"-style", "-platformpluginpath", "/tmp"} << "-style needs a value";
        QTest::newRow("a device where the digit goes does not mean 0x2F8")
            << QStringList{"--apply", "45.45,5N1.5", "--dtr", "on", "/dev/ttyS0"}
            << "/dev/ttyS0 names a device, not a port digit: did you mean --device /dev/ttyS0?";
        QTest::newRow("'=' only where Qt takes it")
            << QStringList{"-platform=offscreen"} << "unknown option -platform=offscreen";
    }
    void rejectedCommandLinesTouchNothing() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        uart::RecordingPortIo io;
        const uart::ScopedPortIo installed(io);
        lastIoperm = {};
        const ProgramRun run = RunMain(arguments);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.startsWith("quorlix: " + message), qPrintable(run.err));
        QVERIFY(run.err.contains("Try 'quorlix --help'"));
        QCOMPARE(lastIoperm.calls, 0);
        QVERIFY(io.Accesses().empty());
        QCOMPARE(PrivilegeStandIn::left, 1);
    }

    void privilegedStartIgnoresCodeLoadingPaths_data() {
        QTest::addColumn<bool>("privileged");
        QTest::addColumn<QString>("said");
        QTest::newRow("privileged: plugin paths go, the loader's only for what comes later")
            << true
            << "quorlix: started with privilege, so these were ignored: -platformpluginpath, "
               "QT_PLUGIN_PATH and QT_QPA_PLATFORM_PLUGIN_PATH\n"
               "quorlix: started with privilege, so these were removed for what it starts later: "
               "LD_PRELOAD; quorlix itself was loaded before it could remove them\n";
        QTest::newRow("unprivileged: the user's own choice") << false << "";
    }
    void privilegedStartIgnoresCodeLoadingPaths() {
        QFETCH(bool, privileged);
        QFETCH(QString, said);
        qputenv("QT_PLUGIN_PATH", "/tmp/plugins");
        qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", "/tmp/plugins/platforms");
        qputenv("LD_PRELOAD", "");  // set, and harmless to what this test starts
        PrivilegeStandIn::startedPrivileged = privileged;
        const ProgramRun run =
            RunMain({"--simulate", "-platformpluginpath", "/tmp/plugins", "--apply", "50"});
        PrivilegeStandIn::startedPrivileged = false;
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, said);
        QCOMPARE(qEnvironmentVariableIsSet("QT_PLUGIN_PATH"), !privileged);
        QCOMPARE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM_PLUGIN_PATH"), !privileged);
        // The dropped option's value goes with it: left, Qt would read it as an argument.
        app::Options options = app::ParseOptions(
            {"-platformpluginpath", "/tmp/plugins", "-style", "fusion", "--simulate"});
        app::RemoveCodeLoadingOptions(options);
        QCOMPARE(options.toolkit, (std::vector<std::string>{"-style", "fusion"}));
        qunsetenv("QT_PLUGIN_PATH");
        qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
        qunsetenv("LD_PRELOAD");
    }

    void failuresNobodyCanSeeEndAtOnce_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("status");
        const QStringList missing{"--device", "/nonexistent/ttyS1"}, none,
            badDisplay{"DISPLAY=:7391"};
        const QString gone = "There is no such device";
        const QString noDisplay = "there is no display to show the panel on";
        const QString nothingHeld = "--hold keeps what --apply, --dtr or --rts set";
        QTest::newRow("offscreen: no failure window")
            << missing << QStringList{"QT_QPA_PLATFORM=offscreen"} << gone << 1;
        QTest::newRow("minimal: no failure window")
            << missing + QStringList{"-platform", "minimal"} << none << gone << 1;
        QTest::newRow("a display that cannot be opened: the message alone")
            << missing << badDisplay << gone << 1;
        QTest::newRow("no display at all: the panel says so")
            << QStringList{"--simulate"} << none << noDisplay << 1;
        QTest::newRow("a display that cannot be opened: the panel says so")
            << QStringList{"--simulate"} << badDisplay << "the panel cannot open on this display"
            << 1;
        QTest::newRow("a picture that cannot be saved: said, not taken")
            << QStringList{"--simulate", "--screenshot", "/nonexistent/x.png"}
            << QStringList{"QT_QPA_PLATFORM=offscreen"}
            << "cannot save the picture of the panel to /nonexistent/x.png: No such file" << 1;
        QTest::newRow("--hold alone and no display: nothing to keep")
            << QStringList{"--simulate", "--hold"} << none << nothingHeld << 2;
        // Said before the device is opened, which would raise its lines for nothing.
        QTest::newRow("no display, a device: not opened") << missing << none << noDisplay << 1;
        QTest::newRow("--hold alone, a device, no display: not opened")
            << missing + QStringList{"--hold"} << none << nothingHeld << 2;
    }
    void failuresNobodyCanSeeEndAtOnce() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QString, said);
        QFETCH(int, status);
        const ProcessRun run = RunBinary(arguments, environment);
        QVERIFY2(run.finished, "still running: waiting on a window nobody can see");
        QCOMPARE(run.how, QProcess::NormalExit);  // no abort
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QVERIFY2(!run.err.contains("qt.qpa"), qPrintable(run.err));
    }

    // Only the port's own traffic reaches it: a standard descriptor the caller closed is not
    // taken by the port's open, and the user's own terminal is never taken for the port.
    void ownWordsStayOffTheLine_data() {
        QTest::addColumn<QString>("redirection");  // the shell's, before it starts the program
        QTest::addColumn<bool>("session");         // one of its own: the pty, opened, is its tty
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("standard output closed: the report is not sent")
            << ">&-" << false << "{port}" << 0 << "out 0x2FB 0x03";
        QTest::newRow("standard error closed: the trace is not sent")
            << "2>&-" << false << "{port}" << 0 << "";
        QTest::newRow("/dev/tty, the controlling terminal: refused")
            << "<>{port}" << true << "/dev/tty" << 2 << "it is the controlling terminal";
        QTest::newRow("the terminal that is standard input: refused")
            << "<{port}" << false << "{port}" << 2 << "it is standard input";
    }
    void ownWordsStayOffTheLine() {
        QFETCH(QString, redirection);
        QFETCH(bool, session);
        QFETCH(QString, device);
        QFETCH(int, status);
        QFETCH(QString, said);
        const PortStandIn port;
        const QString pty = QString::fromLocal8Bit(ptsname(port.teleprinter));
        const QString shell = "exec \"$0\" \"$@\" " + redirection.replace("{port}", pty);
        QStringList command{"sh", "-c", shell, QUORLIX_BINARY, "--trace", "--device"};
        command.append({device.replace("{port}", pty), "--apply", "300,8N1"});
        if (session)
            command = QStringList{"setsid", "-w"} + command;
        QProcess process;
        process.start(command.takeFirst(), command);
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitCode(), status);  // a pty has no modem lines, and needs none here
        QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains(said));
        char sent[64];
        fcntl(port.teleprinter, F_SETFL, O_NONBLOCK);
        QCOMPARE(read(port.teleprinter, sent, sizeof sent), ssize_t{-1});
    }

    // Through sudo, the device and the machine's profile are the invoking user's to open: a
    // child under that user's ids reads the profile, from the home the password database gives.
    void sudoOpensOnlyWhatTheUserMayOpen_data() {
        QTest::addColumn<bool>("profile");  // the device named by a profile, not by --device
        QTest::addColumn<int>("mode");      // the device's, or the profile's
        QTest::addColumn<bool>("adapter");  // a device node, an FTDI adapter's by its sysfs
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("root's own file is refused")
            << false << 0600 << false << 1 << "opens only the devices that you may open";
        QTest::newRow("a file the user may open passes, and is then no character device")
            << false << 0666 << false << 1 << "it is not a character device";
        QTest::newRow("root's own adapter: refused before its chip is looked at")
            << false << 0600 << true << 1 << "opens only the devices that you may open";
        QTest::newRow("a profile only root may read is refused, not read as root")
            << true << 0600 << false << 2 << "m.conf: Permission denied";
        QTest::newRow("a profile the user may read names the device ($XDG_CONFIG_HOME is not his)")
            << true << 0644 << false << 1 << "it is not a character device";
    }
    void sudoOpensOnlyWhatTheUserMayOpen() {
        QFETCH(bool, profile);
        QFETCH(int, mode);
        QFETCH(bool, adapter);
        QFETCH(int, status);
        QFETCH(QString, said);
        if (geteuid() != 0)
            QSKIP("needs root, as sudo would start it");
        QTemporaryDir dir;
        QVERIFY(chmod(dir.path().toLocal8Bit(), 0755) == 0);
        const QString device = dir.filePath("ttyX");
        const dev_t number = makedev(188, 77);
        FakeSysfs sysfs;
        sysfs.AddUsbPort(number, "ftdi_sio", "0403", "6001", "0400", "FT232R USB UART");
        if (adapter && mknod(device.toLocal8Bit(), S_IFCHR | 0600, number) != 0)
            QSKIP("no device nodes can be made here");
        const QString named = profile ? dir.filePath("m.conf") : device;
        QFile file(device);
        QVERIFY(adapter || file.open(QIODevice::WriteOnly));
        file.close();
        QFile machine(named);
        QVERIFY(!profile || (machine.open(QIODevice::WriteOnly) &&
                             machine.write("device = " + device.toLocal8Bit() + "\n") > 0));
        machine.close();
        QVERIFY(chmod(device.toLocal8Bit(), profile ? 0666 : static_cast<mode_t>(mode)) == 0);
        QVERIFY(chmod(named.toLocal8Bit(), static_cast<mode_t>(mode)) == 0);
        // The environment that sudo kept names a profile of its own: not the invoking user's.
        const QTemporaryDir config;
        QVERIFY(QDir(config.path()).mkpath("quorlix"));
        QFile elsewhere(config.filePath("quorlix/m.conf"));
        QVERIFY(elsewhere.open(QIODevice::WriteOnly) && elsewhere.write("device = /dev/null\n"));
        elsewhere.close();
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        qputenv("SUDO_UID", "65534");
        qputenv("SUDO_GID", "65534");
        PrivilegeStandIn::startedPrivileged = profile;
        const ProgramRun run =
            RunProgram(profile ? QStringList{"--machine", "m", "--apply", "45.45"}
                               : QStringList{"--device", device, "--apply", "45.45"},
                       &RefusingIoperm, sysfs.Root(), dir.path().toStdString());
        PrivilegeStandIn::startedPrivileged = false;
        qunsetenv("SUDO_UID");
        qunsetenv("SUDO_GID");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(geteuid(), 0u);  // the look with the user's eyes was undone
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
    }

    // SUDO_UID=0 is root by login, not someone root is to be given back to.
    void rootIsNobodysInvokingUser() {
        if (getuid() != 0)
            QSKIP("needs root, as sudo would start it");
        qputenv("SUDO_UID", "0");
        qputenv("SUDO_GID", "0");
        const bool sudo = app::SudoUser().has_value();
        qunsetenv("SUDO_UID");
        qunsetenv("SUDO_GID");
        QVERIFY(!sudo);
    }

    void refusedPermissionExplainsAndWritesNothing_data() {
        QTest::addColumn<QString>("digit");
        QTest::addColumn<int>("error");
        QTest::addColumn<unsigned>("base");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QString>("remedy");
        QTest::newRow("EPERM names the capability, root and lockdown")
            << "2" << EPERM << 0x2F8u << "0x2F8-0x2FF"
            << "setcap cap_sys_rawio+ep";
        QTest::newRow("ENOSYS: no privilege helps, the serial driver does")
            << "1" << ENOSYS << 0x3F8u << "0x3F8-0x3FF"
            << "Neither root nor a capability changes that on this machine.\n"
               "Reach the UART through its serial driver instead:\n"
               "  quorlix --device /dev/serial0   (a Raspberry Pi's header UART)\n";
        QTest::newRow("EINVAL at 0x260") << "8" << EINVAL << 0x260u << "0x260-0x267"
                                         << "setcap";
    }
    void refusedPermissionExplainsAndWritesNothing() {
        QFETCH(QString, digit);
        QFETCH(int, error);
        QFETCH(unsigned, base);
        QFETCH(QString, range);
        QFETCH(QString, remedy);
        uart::RecordingPortIo io;
        const uart::ScopedPortIo installed(io);
        refusalErrno = error;
        lastIoperm = {};
        const ProgramRun run = RunMain({"--trace", digit});
        QCOMPARE(run.status, 1);
        // Exactly the UART's eight addresses were asked for, once.
        QCOMPARE(lastIoperm.calls, 1);
        QCOMPARE(lastIoperm.from, static_cast<unsigned long>(base));
        QCOMPARE(lastIoperm.num, 8ul);
        QCOMPARE(lastIoperm.turnOn, 1);
        // Privilege was given up after the one call that needed it, failure or not.
        QCOMPARE(lastIoperm.leftBefore, 0);
        QCOMPARE(PrivilegeStandIn::left, 1);
        QVERIFY2(run.err.startsWith("quorlix: no access to the I/O ports " + range + ": " +
                                    QString::fromLocal8Bit(std::strerror(error))),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(remedy), qPrintable(run.err));
        QVERIFY(run.err.contains("quorlix --simulate"));
        QVERIFY(!run.err.contains("out 0x") && !run.err.contains("in 0x"));
        QVERIFY(io.Accesses().empty());
        QCOMPARE(&uart::ThePortIo(), &io);  // the refused backend was never installed
    }

    void openErrorsSayWhatToDo_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("advice");
        QTest::newRow("no such device") << "/dev/ttyUSB0" << ENOENT << "There is no such device";
        QTest::newRow("permission")
            << "/dev/ttyUSB0" << EACCES
            << "You may not open it. Join the group that owns it and log in again:\n"
               "  sudo usermod -aG dialout $USER\n";
        QTest::newRow("busy") << "/dev/ttyUSB0" << EBUSY << "TIOCEXCL";
        QTest::newRow("not a tty") << "/dev/ttyUSB0" << ENOTTY << "not a serial port";
        QTest::newRow("gone") << "/dev/ttyUSB0" << EIO << "unplugged";
        QTest::newRow("no device at the address") << "/dev/ttyS5" << ENXIO << "unplugged";
        QTest::newRow("no controlling terminal (setsid)")
            << "/dev/tty" << ENXIO << "is the controlling terminal, and this process has none";
    }
    void openErrorsSayWhatToDo() {
        QFETCH(QString, path);
        QFETCH(int, error);
        QFETCH(QString, advice);
        const QString text =
            QString::fromStdString(app::DeviceOpenFailure(path.toStdString(), error));
        QVERIFY2(text.startsWith("quorlix: cannot use " + path + ": "), qPrintable(text));
        QVERIFY2(text.contains(advice), qPrintable(text));
    }

    void privilegeIsGivenUpForGood_data() {
        QTest::addColumn<bool>("sudoVariables");
        QTest::addColumn<uid_t>("realUser");       // the ids the process starts with:
        QTest::addColumn<uid_t>("effectiveUser");  // real, effective (saved is root)
        QTest::addColumn<bool>("maySwitchIds");
        QTest::addColumn<uid_t>("keptUser");
        QTest::newRow("through sudo: root goes back to the user")
            << true << 0u << 0u << true << 65534u;
        QTest::newRow("root by login: every capability goes") << false << 0u << 0u << true << 0u;
        QTest::newRow("set-user-id root: back to the real user, not to a forged SUDO_UID")
            << true << 65533u << 0u << true << 65533u;
        QTest::newRow("through sudo, a look with the user's eyes left half undone")
            << true << 0u << 65534u << true << 65534u;
        QTest::newRow("through sudo, ids that cannot be switched: it says so")
            << true << 0u << 0u << false << 0u;
    }
    void privilegeIsGivenUpForGood() {
        QFETCH(bool, sudoVariables);
        QFETCH(uid_t, realUser);
        QFETCH(uid_t, effectiveUser);
        QFETCH(bool, maySwitchIds);
        QFETCH(uid_t, keptUser);
        if (geteuid() != 0)
            QSKIP("needs root, as sudo would start it");
        // In a child, which cannot come back from it.
        const pid_t child = fork();
        if (child == 0) {
            if (sudoVariables) {
                setenv("SUDO_UID", "65534", 1);
                setenv("SUDO_GID", "65534", 1);
            } else {
                unsetenv("SUDO_UID");
            }
            if (!maySwitchIds) {
                cap_t caps = cap_get_proc();
                const cap_value_t setid[] = {CAP_SETUID, CAP_SETGID};
                cap_set_flag(caps, CAP_EFFECTIVE, 2, setid, CAP_CLEAR);
                cap_set_proc(caps);
                cap_free(caps);
            }
            if (realUser != 0 && setgroups(0, nullptr) != 0)  // a set-id start keeps the user's
                _exit(32);
            if (setresgid(realUser, effectiveUser, 0) != 0 ||
                setresuid(realUser, effectiveUser, 0) != 0)
                _exit(32);
            const std::string said = app::LeavePrivilege();
            if (!maySwitchIds)
                _exit(said.starts_with("quorlix: could not give up privilege (") ? 0 : 16);
            uid_t ruid = 1, euid = 1, suid = 1;
            gid_t rgid = 1, egid = 1, sgid = 1;
            gid_t groups[4];
            const bool ids =
                getresuid(&ruid, &euid, &suid) == 0 && getresgid(&rgid, &egid, &sgid) == 0 &&
                ruid == keptUser && euid == keptUser && suid == keptUser && rgid == keptUser &&
                egid == keptUser && sgid == keptUser && (keptUser == 0 || setuid(0) != 0) &&
                (keptUser == 0 || getgroups(4, groups) == 0 || groups[0] != 0);
            const QByteArray none = "0000000000000000";
            const bool capabilities = StatusLine("CapEff") == none &&
                                      StatusLine("CapPrm") == none &&
                                      StatusLine("CapInh") == none && StatusLine("CapAmb") == none;
            const bool pinned = StatusLine("NoNewPrivs") == "1";
            _exit((said.empty() ? 0 : 1) | (ids ? 0 : 2) | (capabilities ? 0 : 4) |
                  (pinned ? 0 : 8));
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void privilegeThatCannotBeGivenUpEndsTheRun() {
        PrivilegeStandIn::failure = "quorlix: could not give up privilege (setresuid: EAGAIN)\n";
        const ProgramRun run = RunMain({"--simulate", "--apply", "50"});
        PrivilegeStandIn::failure.clear();
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err,
                 QStringLiteral("quorlix: could not give up privilege (setresuid: EAGAIN)\n"));
        QCOMPARE(run.out, QString());  // nothing was set
    }

    void failureWindowOnlyWhereSomeoneSeesIt_data() {
        QTest::addColumn<QStringList>("toolkit");
        QTest::addColumn<QString>("platformVariable");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("display");
        const QStringList none;
        QTest::newRow("an X display") << none << "" << true << ":0";
        QTest::newRow("no display at all") << none << "" << false << "";
        QTest::newRow("offscreen by variable") << none << "offscreen" << false << ":0";
        QTest::newRow("offscreen first in a list") << none << "offscreen;xcb" << false << "";
        QTest::newRow("minimal with parameters")
            << QStringList{"-platform", "minimal:enable_fonts"} << "" << false << "";
        QTest::newRow("offscreen last in a list: reached without a display")
            << none << "xcb;offscreen" << false << "";
        QTest::newRow("a platform's name in capitals")
            << QStringList{"-platform", "OFFSCREEN"} << "" << false << ":0";
        QTest::newRow("Minimal by variable") << none << "Minimal" << false << ":0";
        QTest::newRow("the option overrides the variable")
            << QStringList{"-platform", "vnc"} << "offscreen" << true << "";
    }
    void failureWindowOnlyWhereSomeoneSeesIt() {
        QFETCH(QStringList, toolkit);
        QFETCH(QString, platformVariable);
        QFETCH(QString, display);
        QFETCH(bool, visible);
        const QByteArray saved = qgetenv("QT_QPA_PLATFORM");
        qputenv("QT_QPA_PLATFORM", platformVariable.toLocal8Bit());
        if (platformVariable.isEmpty())
            qunsetenv("QT_QPA_PLATFORM");
        qputenv("DISPLAY", display.toLocal8Bit());
        std::vector<std::string> options;
        for (const QString& option : toolkit)
            options.push_back(option.toStdString());
        const bool shown = app::HasVisiblePlatform(options);
        qputenv("QT_QPA_PLATFORM", saved);
        qunsetenv("DISPLAY");
        QCOMPARE(shown, visible);
    }

    // In the panel only the main thread takes a stop signal, between two events: none ends the
    // process while a register sequence has the divisor latch open. SIGTERM still ends it.
    void panelTakesStopSignalsInItsMainThreadOnly() {
        QProcess panel;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert("QT_QPA_PLATFORM", "offscreen");
        panel.setProcessEnvironment(variables);
        panel.start(QStringLiteral(QUORLIX_BINARY), {"--simulate"});
        QVERIFY(panel.waitForStarted());
        const QDir tasks("/proc/" + QString::number(panel.processId()) + "/task");
        QTRY_VERIFY_WITH_TIMEOUT(tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() > 1,
                                 10000);  // Qt's threads have started
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray blocked = StatusLine("SigBlk", tasks.filePath(task + "/status"));
            QVERIFY2(blocked.toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1)),
                     qPrintable(task + ": " + blocked));
        }
        kill(static_cast<pid_t>(panel.processId()), SIGTERM);
        QVERIFY(panel.waitForFinished(5000));
        QCOMPARE(panel.exitStatus(), QProcess::CrashExit);
    }

    // tools/grant-port-access changes only a binary that says it is quorlix, reads its options
    // wherever they stand, and says why it stops. setcap and getcap are stood in for.
    void grantScriptChangesOnlyQuorlix_data() {
        QTest::addColumn<QStringList>("arguments");  // {dir}: the test's folder
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const QString quorlix = QFileInfo(QUORLIX_BINARY).canonicalFilePath();
        QTest::newRow("--revoke after the path revokes")
            << QStringList{quorlix, "--revoke"} << 0 << "setcap asked: -r " + quorlix;
        QTest::newRow("a copy of true gets nothing")
            << QStringList{"{dir}/true"} << 1 << "does not identify itself as quorlix";
        QTest::newRow("--help is read, not handed on")
            << QStringList{"--help"} << 0 << "Usage: grant-port-access [--revoke] [PATH]";
        QTest::newRow("a missing path is said")
            << QStringList{"{dir}/none"} << 1 << "{dir}/none: no such file";
    }
    void grantScriptChangesOnlyQuorlix() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        const QTemporaryDir dir;
        QVERIFY(QFile::copy("/bin/true", dir.filePath("true")));
        for (const auto& [name, body] : {std::pair{"setcap", R"(echo "setcap asked: $*")"},
                                         {"getcap", R"(echo "$1 cap_sys_rawio=ep")"},
                                         {"sudo", R"(exec "$@")"}}) {
            QFile stub(dir.filePath(name));
            QVERIFY(stub.open(QIODevice::WriteOnly));
            stub.write(QByteArray("#!/bin/sh\n") + body + "\n");
            stub.setPermissions(stub.permissions() | QFile::ExeOwner);
        }
        QProcess grant;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert("PATH", dir.path() + ":" + variables.value("PATH"));
        grant.setProcessEnvironment(variables);
        grant.start("bash", QStringList{QUORLIX_SOURCE_DIR "/tools/grant-port-access"} +
                                arguments.replaceInStrings("{dir}", dir.path()));
        QVERIFY(grant.waitForFinished(15000));
        QCOMPARE(grant.exitCode(), status);
        const QString output = grant.readAllStandardOutput() + grant.readAllStandardError();
        QVERIFY2(output.contains(said.replace("{dir}", dir.path())), qPrintable(output));
        QCOMPARE(output.count("setcap asked"), said.count("setcap asked"));
    }

    void panelProgramsThePortItAnnounces() {
        // The panel must reach the UART the command line chose: a preset clicked under
        // --simulate 8 changes the simulator at 0x260.
        static bool clicked = false;
        clicked = false;
        qAddPreRoutine([] {
            QTimer::singleShot(100, [] {
                auto* panel = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (panel == nullptr || clicked)
                    return;
                clicked = true;
                if (auto* preset = panel->findChild<QAbstractButton*>("IDC_RATE_45_45"))
                    preset->click();
                panel->accept();
            });
        });
        const ProgramRun run = RunMain({"--simulate", "-platform", "offscreen", "8"});
        QVERIFY(clicked);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("simulated UART at 0x260: 2534 (45.46 Bd) 5N1.5 DTR- "
                                         "RTS- OUT1- OUT2+ LOOP-\n"));
    }

    void simulatedStartTouchesNoRegister() {
        // The panel opens, is photographed and closes again without a click: no access at all.
        QTemporaryDir dir;
        const QString picture = dir.filePath("panel.png");
        uart::LineSettings = {};
        lastIoperm = {};
        const ProgramRun run = RunMain(
            {"--simulate", "--trace", "-platform", "offscreen", "--screenshot", picture, "2"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QString());  // --trace printed nothing
        QCOMPARE(run.out, QStringLiteral("simulated UART at 0x2F8: 12 (9600.00 Bd) 5N1 DTR- RTS- "
                                         "OUT1- OUT2+ LOOP-\n"));
        QCOMPARE(uart::LineSettings.portBase, 0x2F8);
        QVERIFY(QFileInfo(picture).size() > 0);
        QCOMPARE(lastIoperm.calls, 0);  // the simulator needs no permission
        QCOMPARE(PrivilegeStandIn::left, 1);
        QVERIFY(!PrivilegeStandIn::toolkitRanBefore);  // no Qt code before it was given up
    }
};

QTEST_APPLESS_MAIN(Startup)
#include "startup.moc"
