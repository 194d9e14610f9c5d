// SPDX-License-Identifier: GPL-3.0-or-later
// A plugin that stands for code a user could make Qt load. When it is loaded it says where it
// was loaded from and what the process could still do: its user, its capabilities, and whether
// iopl and ioperm of a port range other than the UART's are refused. Built twice: as a style
// (named by -style or QT_STYLE_OVERRIDE) and as a platform (found through a plugin path).
#include <dlfcn.h>
#include <sys/io.h>
#include <unistd.h>
#include <QObject>
#include <QtPlugin>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#ifdef QUORLIX_PROBE_STYLE
#include <QStylePlugin>
#endif

namespace {

std::string StatusField(const char* name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name, 0) == 0 && line[std::strlen(name)] == ':')
            return line.substr(line.find_first_not_of(" \t", std::strlen(name) + 1));
    }
    return "?";
}

const char* Outcome(int result) {
    return result == 0 ? "granted" : "refused";
}

__attribute__((constructor)) void Probe() {
    Dl_info self{};
    dladdr(reinterpret_cast<void*>(&Probe), &self);
    const int iopl3 = iopl(3);
    const int otherRange = ioperm(0x3E8, 8, 1);
    std::printf("probe %s: uid %u euid %u CapEff %s CapPrm %s iopl %s ioperm 0x3E8 %s\n",
                self.dli_fname != nullptr ? self.dli_fname : "?", getuid(), geteuid(),
                StatusField("CapEff").c_str(), StatusField("CapPrm").c_str(), Outcome(iopl3),
                Outcome(otherRange));
    std::fflush(stdout);
    if (std::getenv("QUORLIX_PROBE_EXIT") != nullptr)
        _exit(3);  // it has said what it came to say; a window would wait for nobody
}

}  // namespace

#ifdef QUORLIX_PROBE_STYLE
class ProbeStyle : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "style.json")
  public:
    QStyle* create(const QString&) override { return nullptr; }
};
#else
// Claims to be a platform; Qt loads it, finds no platform in it and goes on to its own.
class ProbePlatform : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                          "platform.json")
};
#endif

#include "Probe.moc"
