// The program from its command line to the panel: help and version, the refused port
// permission, and a start that touches no register.
#include <sys/wait.h>
#include <unistd.h>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>

#include "MainRunner.h"
#include "app/PortSetApp.h"
#include "app/Privileges.h"
#include "uart/LineSettings.h"
#include "uart/PortIo.h"
#include "uart/RecordingPortIo.h"

namespace {

struct IopermCall {
    unsigned long from = 0, num = 0;
    int turnOn = -1;
    int calls = 0;
};
IopermCall lastIoperm;
int refusalErrno = EPERM;

int RefusingIoperm(unsigned long from, unsigned long num, int turnOn) {
    lastIoperm = {from, num, turnOn, lastIoperm.calls + 1};
    errno = refusalErrno;
    return -1;
}

ProgramRun RunMain(const QStringList& arguments) {
    return RunProgram(arguments, &RefusingIoperm);
}

}  // namespace

class Startup : public QObject {
    Q_OBJECT

  private slots:
    void helpAndVersionNeedNoPort() {
        const ProgramRun help = RunMain({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(
            help.out.startsWith("Usage: quorlix [--simulate | --device PATH] [--trace] [DIGIT]"));
        QVERIFY(help.out.contains("4 = 0x3E0"));
        const ProgramRun version = RunMain({"--version"});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("quorlix 1.0.0.1\n"));
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

    void unknownOptionIsAnError() {
        const ProgramRun run = RunMain({"--simulat"});
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("unknown option --simulat"));
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
        QTest::newRow("ENOSYS says no privilege helps") << "1" << ENOSYS << 0x3F8u << "0x3F8-0x3FF"
                                                        << "Neither root nor a capability";
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
        QVERIFY2(run.err.startsWith("quorlix: no access to the I/O ports " + range + ": " +
                                    QString::fromLocal8Bit(std::strerror(error))),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(remedy), qPrintable(run.err));
        QVERIFY(run.err.contains("quorlix --simulate"));
        QVERIFY(!run.err.contains("out 0x") && !run.err.contains("in 0x"));
        QVERIFY(io.Accesses().empty());
        QCOMPARE(&uart::ThePortIo(), &io);  // the refused backend was never installed
    }

    void sudoRootIsGivenBack() {
        if (geteuid() != 0)
            QSKIP("needs root, as sudo would start it");
        // In a child, which cannot come back from it.
        const pid_t child = fork();
        if (child == 0) {
            setenv("SUDO_UID", "65534", 1);
            setenv("SUDO_GID", "65534", 1);
            const bool given = app::GiveBackRoot().empty();
            gid_t groups[4];
            const bool dropped = getuid() == 65534 && geteuid() == 65534 && getgid() == 65534 &&
                                 getegid() == 65534 && setuid(0) != 0 &&
                                 (getgroups(4, groups) == 0 || groups[0] != 0);
            _exit(given && dropped ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
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
    }
};

QTEST_APPLESS_MAIN(Startup)
#include "startup.moc"
