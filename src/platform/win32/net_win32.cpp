// Local TCP probes with Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>

#include "platform/net.h"

namespace tide::platform::win32 {
namespace {

class Win32Network : public Network {
public:
    bool ConnectLocal(int port, uint32_t timeoutMs) override {
        std::call_once(started_, [this] {
            WSADATA data;
            ready_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        });
        if (!ready_) return false;
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) return false;
        bool ok = Connect(s, port, timeoutMs);
        closesocket(s);
        return ok;
    }

private:
    static bool Connect(SOCKET s, int port, uint32_t timeoutMs) {
        // Non-blocking so the attempt can be given up after timeoutMs.
        u_long nonBlocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return false;
        sockaddr_in addr;
        ZeroMemory(&addr, sizeof addr);
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval tv;
        tv.tv_sec = static_cast<long>(timeoutMs / 1000);
        tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
        int n = select(0, nullptr, &writable, &failed, &tv);
        if (n <= 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable)) return false;
        int err = 0;
        int len = sizeof err;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return false;
        return err == 0;
    }

    std::once_flag started_;
    bool ready_ = false;
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
Network& Port<Network>::Default() {
    static win32::Win32Network instance;
    return instance;
}
}  // namespace tide::platform
