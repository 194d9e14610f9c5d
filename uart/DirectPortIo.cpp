// SPDX-License-Identifier: GPL-3.0-or-later
#include "uart/DirectPortIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "uart/Registers.h"

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define QUORLIX_HAS_PORT_IO 1
#else
#define QUORLIX_HAS_PORT_IO 0
#endif

namespace uart {
namespace {

#if !QUORLIX_HAS_PORT_IO
int NoIoperm(unsigned long, unsigned long, int) {
    errno = ENOSYS;
    return -1;
}
#endif

const char* ReasonFor(int error) {
    switch (error) {
        case EPERM:
            return "The process lacks the CAP_SYS_RAWIO capability, or kernel lockdown "
                   "(Secure Boot) forbids port access even to root";
        case ENOSYS:
            return "This kernel or machine offers no I/O port access: it was built without "
                   "it, or a virtual machine or container withholds it";
        case EINVAL:
            return "The kernel does not accept this address range";
        default:
            return "The kernel refused the request";
    }
}

// The message for a refused ioperm: the address range and the system's reason.
std::string PortPermissionMessage(std::uint16_t base, int error) {
    char range[32];
    std::snprintf(range, sizeof range, "0x%03X-0x%03X", base, base + kPortSpan - 1);
    std::string text = std::string("quorlix: no access to the I/O ports ") + range + ": " +
                       std::strerror(error) + ".\n" + ReasonFor(error) + ".\n";
    text += "Nothing was written to the UART.";
    if (error == ENOSYS)
        text += "\nNeither root nor a capability changes that on this machine.";
    return text;
}

}  // namespace

std::unique_ptr<DirectPortIo> DirectPortIo::Acquire(std::uint16_t base, LineOutcome& opened,
                                                    IopermFunction ioperm) {
#if QUORLIX_HAS_PORT_IO
    if (ioperm == nullptr)
        ioperm = &::ioperm;
#else
    if (ioperm == nullptr)
        ioperm = &NoIoperm;
#endif
    opened = {};
    errno = 0;
    if (ioperm(base, kPortSpan, 1) != 0) {
        opened.error = errno != 0 ? errno : EPERM;
        opened.notice = PortPermissionMessage(base, opened.error);
        opened.failed = true;
        return nullptr;
    }
    return std::unique_ptr<DirectPortIo>(new DirectPortIo());
}

void DirectPortIo::Out(std::uint16_t port, std::uint8_t value) {
#if QUORLIX_HAS_PORT_IO
    outb(value, port);
#else
    (void)port;
    (void)value;
#endif
}

std::uint8_t DirectPortIo::In(std::uint16_t port) {
#if QUORLIX_HAS_PORT_IO
    return inb(port);
#else
    (void)port;
    return kEmptyBus;
#endif
}

}  // namespace uart
