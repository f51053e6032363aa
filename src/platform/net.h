// TCP probes of this machine.
#pragma once

#include <cstdint>

#include "platform/port.h"

namespace tide::platform {

class Network {
public:
    virtual ~Network() = default;
    // True when a TCP connection to 127.0.0.1 on port is accepted within
    // timeoutMs. The connection is closed again at once; nothing is sent.
    // A refused connection returns as soon as the system reports it.
    virtual bool ConnectLocal(int port, uint32_t timeoutMs) = 0;
};

inline Network& Net() { return Port<Network>::Get(); }

}  // namespace tide::platform
