// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the program from its command line, as a shell runs it: what --apply reports, the
// exit statuses a script sees, and a bridge that cannot start.
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "FakeSysfs.h"
#include "MainRunner.h"
#include "PortStandIn.h"
#include "TimeLimit.h"
#include "app/BridgeOptions.h"

namespace {

// /dev/null as an FTDI FT232B and /dev/zero as a Raspberry Pi's mini UART, for the refusals
// decided before a device is opened.
const FakeSysfs& AdapterSysfs() {
    static FakeSysfs sysfs = [] {
        FakeSysfs made;
        struct stat null {
        }, zero{};
        stat("/dev/null", &null);
        stat("/dev/zero", &zero);
        made.AddUsbPort(null.st_rdev, "ftdi_sio", "0403", "6001", "0400", "FT232R USB UART");
        made.AddPort(zero.st_rdev, "bcm2835-aux-uart");
        return made;
    }();
    return sysfs;
}

int RunMain(const QStringList& arguments, QString* out = nullptr, QString* err = nullptr) {
    const ProgramRun run = RunProgram(arguments, nullptr, AdapterSysfs().Root());
    if (out)
        *out = run.out;
    if (err)
        *err = run.err;
    return run.status;
}

}  // namespace

class CommandLine : public QObject {
    Q_OBJECT

  private slots:
    // The user's profiles ($XDG_CONFIG_HOME/quorlix) that the rows name.
    void initTestCase() {
        QVERIFY(QDir(config_.path()).mkdir("quorlix"));
        const std::pair<const char*, const char*> profiles[] = {
            {"typo", "# a misspelt key\ndevice = /dev/null\ncolums = 72\n"},
            {"wide", "device = /dev/null\n\ncolumns = 500  # no carriage is that wide\n"},
            {"ftdi", "device = /dev/null\nline = 300,8N1\ncode = ustty\n"},
            {"qt", "platformpluginpath = /tmp\n"},
            {"switch", "usos = maybe\n"},
        };
        for (const auto& [name, text] : profiles) {
            QFile file(config_.filePath(QStringLiteral("quorlix/%1.conf").arg(name)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
        }
        QVERIFY(QDir(config_.path()).mkdir("quorlix/folder.conf"));
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    }

    void reportSaysWhatTheHardwareDoes() {
        QString out;
        QCOMPARE(RunMain({"--simulate", "--apply", "45.45,5N1.5", "--dtr", "on", "1"}, &out), 0);
        QCOMPARE(out, QStringLiteral("0x3F8 · simulated\n"
                                     "rate: 45.45 Bd asked, divisor 2534 gives 45.46 Bd (+0.03 %)\n"
                                     "framing: 5 data bits, no parity, 1.5 stop bits\n"
                                     "DTR on\n"
                                     "simulated UART at 0x3F8: 2534 (45.46 Bd) 5N1.5 DTR+ RTS- "
                                     "OUT1- OUT2+ LOOP-\n"));
    }

    void exitStatuses_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("bad rate") << QStringList{"--simulate", "--apply", "12"} << 2
                                  << "outside 35";
        QTest::newRow("a decimal comma: a point is asked for, not a framing")
            << QStringList{"--simulate", "--apply", "45,45"} << 2 << "use a point: 45.45";
        QTest::newRow("bad framing")
            << QStringList{"--simulate", "--apply", "50,9N1"} << 2 << "not like 5N1.5";
        QTest::newRow("1.5 stop bits with six-bit words: 6N2 named")
            << QStringList{"--simulate", "--apply", "6N1.5"} << 2
            << "1.5 stop bits exist only with five-bit words; the longer stop of 6-bit words is "
               "6N2";
        QTest::newRow("2 stop bits with five-bit words: 5N1.5 named")
            << QStringList{"--simulate", "--apply", "50,5n2"} << 2
            << "the longer stop of 5-bit words is 5N1.5";
        QTest::newRow("5e1 is a rate with an exponent, not 5E1")
            << QStringList{"--simulate", "--apply", "5e1"} << 2
            << "rate '5e1' is not a plain decimal number";
        QTest::newRow("bad switch")
            << QStringList{"--simulate", "--dtr", "yes"} << 2 << "on or off";
        QTest::newRow("two backends")
            << QStringList{"--simulate", "--device", "/dev/ttyS1", "--dtr", "on"} << 2
            << "exclude each other";
        QTest::newRow("no such device")
            << QStringList{"--device", "/nonexistent/ttyS1", "--apply", "50"} << 1
            << "no such device";
        QTest::newRow("a line the adapter's chip sends goes on to the device")
            << QStringList{"--device", "/dev/null", "--apply", "300,8N1"} << 1
            << "not a serial port";
        QTest::newRow("a rate below the adapter's chip: refused before the open")
            << QStringList{"--device", "/dev/null", "--apply", "45.45", "--dtr", "on"} << 1
            << "quorlix: the FTDI FT232B's lowest rate is 183 Bd: 45.45 Bd cannot be set. For a "
               "teleprinter use a PL2303 or CH340 adapter, or a 16550 card (--device "
               "/dev/ttyS…).\n";
        QTest::newRow("five-bit words on the mini UART: refused before the open, the PL011 named")
            << QStringList{"--device", "/dev/zero", "--apply", "45.45,5N1.5", "--dtr", "on"} << 1
            << "quorlix: the mini UART cannot send 5N1.5 (7 or 8 data bits, no parity and 1 stop "
               "bit only). dtoverlay=disable-bt (or miniuart-bt) in config.txt puts the PL011 on "
               "GPIO 14 and 15 in its place (then --device /dev/serial0, or /dev/ttyAMA0).\n";
        QTest::newRow("five-bit words on an FTDI chip: the bridge refuses before the open")
            << QStringList{"--bridge", "300", "--device", "/dev/null"} << 1
            << "quorlix: the FTDI FT232B cannot send 5-bit words";
        QTest::newRow("--hold with the bridge, which keeps its port itself")
            << QStringList{"--bridge", "--device", "/dev/ttyS1", "--hold"} << 2
            << "--hold goes with --apply, --dtr, --rts or the panel";
        QTest::newRow("works") << QStringList{"--simulate", "--rts", "on"} << 0 << "";
        // A machine's profile: option = value lines that the command line's options override.
        QTest::newRow("a profile's unknown key names its file and line")
            << QStringList{"--machine", "typo", "--apply", "50"} << 2
            << "/quorlix/typo.conf:3: unknown option colums\n";
        QTest::newRow("a profile's bad value names its file and line")
            << QStringList{"--machine", "wide", "--bridge"} << 2
            << "/quorlix/wide.conf:3: --columns takes a carriage width";
        QTest::newRow("the command line wins over the profile, whose bad value goes unused")
            << QStringList{"--machine", "wide",     "--bridge",          "--columns",
                           "72",        "--device", "/nonexistent/ttyS1"}
            << 1 << "cannot use /nonexistent/ttyS1";
        QTest::newRow("a bad value on the command line is not the profile's line")
            << QStringList{"--machine", "ftdi", "--bridge", "--code", "ita1"} << 2
            << "quorlix: --code takes ita2 or ustty, not ita1\n";
        QTest::newRow("--apply without its line takes the machine's, and leaves its code set")
            << QStringList{"--machine", "ftdi", "--apply"} << 1 << "It is not a serial port";
        QTest::newRow("the bridge takes the machine's line (its default would be refused)")
            << QStringList{"--machine", "ftdi", "--bridge"} << 1 << "It is not a serial port";
        QTest::newRow("--print takes the machine's line (its default would be refused)")
            << QStringList{"--machine", "ftdi", "--print", "/dev/null"} << 1
            << "It is not a serial port";
        QTest::newRow("--hold without a line keeps the machine's")
            << QStringList{"--machine", "ftdi", "--hold"} << 1 << "It is not a serial port";
        QTest::newRow("a switch takes yes or no")
            << QStringList{"--machine", "switch", "--apply"} << 2
            << "switch.conf:1: usos takes yes or no, not maybe\n";
        QTest::newRow("a profile that cannot be read names the file")
            << QStringList{"--machine", "folder", "--apply"} << 2 << "folder.conf: Is a directory";
        QTest::newRow("no profile: both places are named")
            << QStringList{"--machine", "nowhere", "--apply"} << 2
            << "quorlix/nowhere.conf nor /etc/quorlix/nowhere.conf exists";
        QTest::newRow("a profile names none of Qt's options (privilege would remove some)")
            << QStringList{"--machine", "qt", "--apply"} << 2
            << "qt.conf:1: platformpluginpath is not a machine's setting";
        QTest::newRow("a machine's name is no path")
            << QStringList{"--machine", "../ftdi", "--apply"} << 2 << "not ../ftdi";
    }
    void exitStatuses() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        QString err;
        QCOMPARE(RunMain(arguments, nullptr, &err), status);
        QVERIFY2(err.contains(message), qPrintable(err));
    }

    void bridgeThatCannotStart_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("no --device") << QStringList{"--bridge"} << 2 << "--device PATH";
        QTest::newRow("a device that is no serial port: the command line was fine")
            << QStringList{"--bridge", "--device", "/dev/null"} << 1 << "It is not a serial port";
        QTest::newRow("a file is not even a character device")
            << QStringList{"--bridge", "--device", "{dir}/file"} << 1
            << "it is not a character device";
        QTest::newRow("a device that is not there")
            << QStringList{"--bridge", "--device", "/dev/ttyQ9"} << 1 << "No such file";
        QTest::newRow("an unknown code set")
            << QStringList{"--bridge", "--code", "ita1", "--device", "/dev/ttyQ9"} << 2
            << "--code takes ita2 or ustty, not ita1";
        QTest::newRow("too much fill")
            << QStringList{"--bridge", "--cr-fill", "17", "--device", "/dev/ttyQ9"} << 2
            << "from 0 to 16";
        QTest::newRow("a motor idle time below its floor, after a start time that reads")
            << QStringList{"--bridge",     "--motor", "rts",      "--motor-start", "1.5",
                           "--motor-idle", "0.5",     "--device", "/dev/ttyQ9"}
            << 2 << "--motor-idle takes seconds from 1 to 3600, not 0.5";
        QTest::newRow("an unknown line end")
            << QStringList{"--bridge", "--newline", "lf", "--device", "/dev/ttyQ9"} << 2
            << "--newline takes crlf or raw, not lf";
        QTest::newRow("an unknown loop")
            << QStringList{"--bridge", "--loop", "simplex", "--device", "/dev/ttyQ9"} << 2
            << "--loop takes half or full, not simplex";
        QTest::newRow("a bridge option without --bridge")
            << QStringList{"--no-usos", "--device", "/dev/ttyQ9"} << 2 << "go with --bridge";
        QTest::newRow("a print job that cannot be read: the port is never opened")
            << QStringList{"--print", "{dir}/none", "--device", "/dev/ttyQ9"} << 1
            << "/none: No such file";
        QTest::newRow("a spool folder that is not there: the port is never opened")
            << QStringList{"--bridge", "--device", "/dev/ttyQ9", "--spool", "{dir}/none"} << 1
            << "/none: no such folder";
        QTest::newRow("a bridge's own option with --print")
            << QStringList{"--print", "-", "--spool", "{dir}", "--device", "/dev/ttyQ9"} << 2
            << "--spool goes with --bridge";
        QTest::newRow("--line without --print")
            << QStringList{"--bridge", "--line", "50", "--device", "/dev/ttyQ9"} << 2
            << "--line goes with --print";
        // Only a link to a pseudo-terminal, or to nothing, may be replaced.
        QTest::newRow("--link at a file")
            << QStringList{"--bridge", "--device", "{port}", "--link", "{dir}/file"} << 1
            << "file is a file, not a link to a pseudo-terminal: it is left as it is";
        QTest::newRow("--link at a folder")
            << QStringList{"--bridge", "--device", "{port}", "--link", "{dir}/folder"} << 1
            << "folder is a directory, not a link";
        QTest::newRow("--link in no folder: made before the port, which is never opened")
            << QStringList{"--bridge", "--device", "/dev/null", "--link", "{dir}/none/x"} << 1
            << "cannot make the link";
        QTest::newRow("--link at a link to a file")
            << QStringList{"--bridge", "--device", "{port}", "--link", "{dir}/elsewhere"} << 1
            << "elsewhere is a link to file, not to a pseudo-terminal";
    }
    void bridgeThatCannotStart() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        // A serial port that opens (a pty stands in), and what --link may not replace.
        const PortStandIn port;
        const QTemporaryDir dir;
        QFile(dir.filePath("file")).open(QIODevice::WriteOnly);
        QDir(dir.path()).mkdir("folder");
        QFile::link("file", dir.filePath("elsewhere"));
        for (QString& argument : arguments)
            argument.replace("{dir}", dir.path()).replace("{port}", ptsname(port.teleprinter));
        const TimeLimit limit(10);
        const ProgramRun run = RunProgram(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(says), qPrintable(run.err));
    }

    // What a bridge's command line leaves unsaid: a carriage of 69 columns, which fits the
    // 69- and the 72-column machines, CR LF line ends, and separate send and receive loops.
    void bridgeDefaults_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("raw");
        QTest::addColumn<bool>("half");
        QTest::newRow("neither given") << QStringList{} << 69 << false << false;
        QTest::newRow("--columns 0: none") << QStringList{"--columns", "0"} << 0 << false << false;
        QTest::newRow("--newline raw") << QStringList{"--newline", "raw"} << 69 << true << false;
        QTest::newRow("--loop half") << QStringList{"--loop", "half"} << 69 << false << true;
    }
    void bridgeDefaults() {
        QFETCH(QStringList, arguments);
        QFETCH(int, columns);
        QFETCH(bool, raw);
        QFETCH(bool, half);
        std::vector<std::string> words{"--bridge", "--device", "/dev/ttyS1"};
        for (const QString& argument : arguments)
            words.push_back(argument.toStdString());
        const app::Options options = app::ParseOptions(words);
        QVERIFY2(options.error.empty(), options.error.c_str());
        bridge::Settings settings;
        std::string error;
        QVERIFY2(app::ReadBridgeSettings(options, settings, error), error.c_str());
        QCOMPARE(settings.columns, columns);
        QCOMPARE(settings.newline == bridge::Newline::Raw, raw);
        QCOMPARE(settings.halfDuplex, half);
    }

  private:
    QTemporaryDir config_;
};

QTEST_GUILESS_MAIN(CommandLine)
#include "command_line.moc"
