#include "driver/oledbmanager.h"

#include "platform/sdk/winsock.h"

#include <cstdio>

bool OLEDBManager::isServerReachable(const QString &host)
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET) {
        // Without a socket there is nothing to learn; let the provider try.
        std::printf("Socket creation failed: %d\n", WSAGetLastError());
        return true;
    }

    u_long nonBlocking = 1;
    ioctlsocket(probe, FIONBIO, &nonBlocking);

    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(1433);
    // Only dotted IPv4 addresses are probed; anything else becomes
    // INADDR_NONE and is never resolved.
    address.sin_addr.s_addr = inet_addr(host.toLatin1().constData());

    bool reachable = false;
    if (::connect(probe, reinterpret_cast<const sockaddr *>(&address), int(sizeof address)) == 0) {
        reachable = true;
    } else {
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(probe, &writable);
            timeval timeout = {0, 500000};
            reachable = ::select(0, nullptr, &writable, nullptr, &timeout) > 0;
        }
    }
    closesocket(probe);
    return reachable;
}
