// The native build probes real local ports with POSIX sockets, so the port
// probe is tested against real listeners.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/net.h"

namespace tide::platform {
namespace {

class PosixNetwork : public Network {
public:
    bool ConnectLocal(int port, uint32_t timeoutMs) override {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        bool ok = Connect(fd, port, timeoutMs);
        close(fd);
        return ok;
    }

private:
    static bool Connect(int fd, int port, uint32_t timeoutMs) {
        int flags = fcntl(fd, F_GETFL, 0);
        if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
        if (errno != EINPROGRESS) return false;
        pollfd p{fd, POLLOUT, 0};
        int n;
        do {
            n = poll(&p, 1, static_cast<int>(timeoutMs));
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return false;
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return false;
        return err == 0;
    }
};

}  // namespace

template <>
Network& Port<Network>::Default() {
    static PosixNetwork instance;
    return instance;
}

}  // namespace tide::platform
