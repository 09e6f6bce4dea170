#pragma once
// The Windows Sockets calls of the reachability probe. On Windows this is
// winsock2.h; elsewhere the calls sit on POSIX sockets with Windows'
// semantics: error codes are WSA codes, and a connection attempt that has
// failed is not reported in select's write set (only one that succeeded is),
// so a refused port waits out the time-out as a silent one does.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else

#include "platform/sdk/comtypes.h"

#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/select.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>

typedef ULONG_PTR SOCKET;
#define INVALID_SOCKET (static_cast<SOCKET>(~0ULL))
#define SOCKET_ERROR (-1)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
// The x64 layout: the two unsigned shorts move ahead of the vendor pointer.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
typedef WSADATA *LPWSADATA;
#define MAKEWORD(a, b) (static_cast<WORD>((static_cast<BYTE>(a)) | (static_cast<WORD>(static_cast<BYTE>(b)) << 8)))
#define LOBYTE(w) (static_cast<BYTE>(static_cast<WORD>(w) & 0xff))
#define HIBYTE(w) (static_cast<BYTE>(static_cast<WORD>(w) >> 8))

#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093

// Windows' value; a POSIX <sys/ioctl.h> seen earlier defines its own.
#ifdef FIONBIO
#undef FIONBIO
#endif
#define FIONBIO 0x8004667EUL

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
// The calling thread's last socket error (errno) as a WSA code; a
// non-blocking connect under way reads WSAEWOULDBLOCK, as on Windows.
int WSAGetLastError();
void WSASetLastError(int iError);

int ioctlsocket(SOCKET s, long cmd, u_long *argp);
int closesocket(SOCKET s);

// socket(), htons() and inet_addr() are the POSIX ones: a SOCKET is the
// descriptor itself, and -1 becomes INVALID_SOCKET.
//
// connect() on a SOCKET: a non-blocking attempt never fails at once; a
// refusal shows up later as "not writable", as on Windows.
int connect(SOCKET s, const sockaddr *name, int namelen);
inline int connect(SOCKET s, const sockaddr *name, std::size_t namelen)
{
    return connect(s, name, static_cast<int>(namelen));
}

// select() in the form the probe uses (write set only): nfds is ignored as
// on Windows, and a socket whose connection failed is not counted as
// writable; the call then waits for the others until the time-out.
int select(int nfds, std::nullptr_t readfds, fd_set *writefds, std::nullptr_t exceptfds,
           timeval *timeout);

#endif
