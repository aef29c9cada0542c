// Windows Sockets 1.1 as the socket component expects it, over POSIX sockets.
//
// The functions keep their Winsock names and behaviour; the ones whose names
// POSIX already uses (socket, connect, send, recv, accept, setsockopt) live
// in namespace winsock and are called qualified. Socket handles are plain
// ints; INVALID_SOCKET (-1) means "no socket". Errors are reported by the
// Winsock numbers through WSAGetLastError (errno mapped: EAGAIN/EINPROGRESS
// -> 10035, ENOTCONN -> 10057, ECONNREFUSED -> 10061, ...).
//
// WSAAsyncSelect makes a socket non-blocking and posts `msg` to the window
// with wParam = socket and lParam = event | (error << 16), as Winsock does:
//  - FD_CONNECT once when a connect completes (error word from SO_ERROR).
//    A non-blocking connect always answers 10035, also when the attempt is
//    refused at once on loopback: the result arrives with FD_CONNECT.
//  - FD_READ when data waits; not again until the next recv (also a peek).
//  - FD_CLOSE once, when the peer has closed (error 0) or reset (10054).
//  - FD_ACCEPT for a listening socket, re-armed by accept.
//  - FD_OOB is accepted in the mask but never posted.
// Notifications still queued for a socket that closesocket has closed are
// dropped, so a fresh socket that happens to get the same number never sees
// them. Delivering a notification also ends the dispatcher's current wait
// (see WaitForMessages), so a wait loop looks at its flags again at once.
//
// send never raises SIGPIPE. When send finds the socket's buffer full
// (10035) on a registered socket, the next WaitForMessages wakes as soon as
// the socket can take more, so a sender waits instead of spinning.
//
// WSAAsyncGetHostByName resolves on a worker thread (getaddrinfo, IPv4) and
// posts `msg` with wParam = the task handle and lParam = buffer length |
// (error << 16) on the GUI thread after filling the caller's buffer with a
// hostent (h_addr_list[0] is the first address). A lookup that finishes
// after its window is gone, or after WSACancelAsyncRequest, does nothing.
// Failures: 11001 (host not found), 11002 (try again), 10055 (buffer).
//
// WSAAsyncGetAddrInfo, this port's addition for IPv6, resolves on a worker
// thread for both families (getaddrinfo, in the order it gives them, each
// address once) and, on the GUI thread, stores the addresses (port 0) in
// the caller's list before it posts `msg` like WSAAsyncGetHostByName (the
// low word is the number of addresses). Cancelled or late, it touches
// nothing.
//
// All functions except the lookup's worker run on the GUI thread; a Qt
// application object must exist before the first WSAAsyncSelect.
#pragma once
#include "platform/WinTypes.h"

#include <arpa/inet.h>  // inet_addr, htons, ntohs: the same functions as Winsock's
#include <netdb.h>      // hostent
#include <netinet/in.h> // sockaddr_in, IPPROTO_TCP
#include <sys/socket.h> // AF_INET, SOCK_STREAM, SOL_SOCKET, SO_LINGER, linger, MSG_PEEK

#include <cstdint>
#include <string>
#include <vector>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
using WSATaskHandle = std::uintptr_t; // what Winsock calls HANDLE for asynchronous requests

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

// Reference-counted; always succeeds with version 1.1 (returns 0).
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
// The Winsock number for an errno value (0 for 0).
int WSAErrorFromErrno(int error);

// msg 0 or events 0 cancel the registration (the socket stays non-blocking).
int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long events);
// Returns a task handle, 0 on failure (WSAGetLastError tells why).
WSATaskHandle WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buffer, int bufferLength);
int WSACancelAsyncRequest(WSATaskHandle task);
WSATaskHandle WSAAsyncGetAddrInfo(HWND window, UINT msg, const char* name, std::vector<sockaddr_storage>* addresses);
// The address as text: "127.0.0.1", "[::1]"; with its port when not 0
// ("[::1]:8080").
std::string AddressText(const sockaddr_storage& address);

int closesocket(SOCKET s);

namespace winsock {
SOCKET socket(int af, int type, int protocol);
int setsockopt(SOCKET s, int level, int name, const void* value, int length);
int connect(SOCKET s, const void* address, int length);
int send(SOCKET s, const char* data, int length, int flags);
int recv(SOCKET s, char* data, int length, int flags);
SOCKET accept(SOCKET s, void* address, int* length);
} // namespace winsock
