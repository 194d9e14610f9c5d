// The one seam between this program and the hardware: a byte out to an I/O address and a
// byte in from one. Every register access goes through the backend installed here.
#pragma once

#include <cstdint>

namespace uart {

class PortIo {
public:
    virtual ~PortIo() = default;
    virtual void Out(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t In(std::uint16_t port) = 0;
};

// The backend that ProgramUart and SetModemLine use. It is chosen once at start-up; until
// then a backend that touches nothing is in place, so a stray access can never reach a port
// the user did not choose.
PortIo& ThePortIo();

// Installs `io` (not owned; it must outlive its use) and returns the previous backend.
// Passing nullptr puts the inert backend back.
PortIo* InstallPortIo(PortIo* io);

// Installs a backend for the lifetime of a scope, then restores the previous one.
class ScopedPortIo {
public:
    explicit ScopedPortIo(PortIo& io) : previous_(InstallPortIo(&io)) {}
    ~ScopedPortIo() { InstallPortIo(previous_); }
    ScopedPortIo(const ScopedPortIo&) = delete;
    ScopedPortIo& operator=(const ScopedPortIo&) = delete;

private:
    PortIo* previous_;
};

}  // namespace uart
