#include "platform/WinSock.h"

#include "platform/MessageWindow.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

thread_local int lastError = 0;
int startCount = 0;

int setError(int error)
{
    lastError = error;
    return SOCKET_ERROR;
}

int setErrno(int error) { return setError(WSAErrorFromErrno(error)); }

// Ends the dispatcher's current wait once, so that a loop waiting in
// WaitForMessages tests its flags after a notification has been handled.
void wakeWaiter()
{
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
}

struct Registration {
    std::uint64_t id = 0;
    SOCKET s = INVALID_SOCKET;
    HWND window = 0;
    UINT msg = 0;
    long events = 0;
    bool listening = false;
    bool connected = false;  // the read side may be watched
    bool connecting = false; // FD_CONNECT still to come
    bool sendWait = false;   // the write side is watched for a blocked send
    bool readArmed = true;   // FD_READ / FD_ACCEPT may be posted
    bool closeSent = false;  // FD_CLOSE was posted
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

std::unordered_map<SOCKET, std::unique_ptr<Registration>>& registrations()
{
    static std::unordered_map<SOCKET, std::unique_ptr<Registration>> map;
    return map;
}

std::uint64_t nextRegistrationId = 1;

Registration* findRegistration(SOCKET s)
{
    auto it = registrations().find(s);
    return it == registrations().end() ? nullptr : it->second.get();
}

bool registrationAlive(SOCKET s, std::uint64_t id)
{
    Registration* r = findRegistration(s);
    return r && r->id == id;
}

void post(Registration& r, long event, int error)
{
    if (!(r.events & event))
        return;
    const std::uint64_t id = r.id;
    const SOCKET s = r.s;
    const HWND window = r.window;
    const UINT msg = r.msg;
    const LPARAM lParam = static_cast<LPARAM>(static_cast<std::uint32_t>(event) | (static_cast<std::uint32_t>(error) << 16));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [=] {
            if (!registrationAlive(s, id))
                return;
            SendMessage(window, msg, static_cast<WPARAM>(s), lParam);
            wakeWaiter();
        },
        Qt::QueuedConnection);
}

void watchRead(Registration& r, bool on)
{
    if (r.read && r.read->isEnabled() != on)
        r.read->setEnabled(on);
}

void updateWrite(Registration& r)
{
    const bool on = r.connecting || r.sendWait;
    if (r.write && r.write->isEnabled() != on)
        r.write->setEnabled(on);
}

void readable(Registration& r)
{
    if (r.listening) {
        if (r.readArmed) {
            r.readArmed = false;
            post(r, FD_ACCEPT, 0);
        }
        watchRead(r, false);
        return;
    }
    char byte;
    const ssize_t n = ::recv(r.s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        if (r.readArmed) {
            r.readArmed = false;
            post(r, FD_READ, 0);
        }
        watchRead(r, false); // until the next recv
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    watchRead(r, false);
    if (!r.closeSent) {
        r.closeSent = true;
        post(r, FD_CLOSE, n == 0 ? 0 : WSAErrorFromErrno(errno));
    }
}

void writable(Registration& r)
{
    if (r.connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(r.s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        r.connecting = false;
        r.connected = error == 0;
        post(r, FD_CONNECT, WSAErrorFromErrno(error));
        if (r.connected)
            watchRead(r, true);
    }
    r.sendWait = false;
    updateWrite(r);
}

// Lookups: the worker hands its result to the GUI thread through the
// application object, which it may only reach while that object lives.
std::mutex sinkLock;
QObject* sink = nullptr;
std::unordered_set<WSATaskHandle> liveLookups; // GUI thread only
WSATaskHandle nextLookup = 1;

void ensureSink()
{
    QObject* app = QCoreApplication::instance();
    std::lock_guard<std::mutex> guard(sinkLock);
    if (sink == app)
        return;
    sink = app;
    QObject::connect(app, &QObject::destroyed, [] {
        std::lock_guard<std::mutex> inner(sinkLock);
        sink = nullptr;
    });
}

// Lays out a hostent with its lists and addresses inside the caller's buffer.
bool fillHostEnt(char* buffer, int length, const std::string& name, const std::vector<in_addr>& addresses)
{
    const std::size_t pointers = 1 + addresses.size() + 1; // aliases end, address list + end
    const std::size_t need = sizeof(hostent) + pointers * sizeof(char*) + addresses.size() * sizeof(in_addr) + name.size() + 1;
    if (!buffer || length < 0 || need > static_cast<std::size_t>(length))
        return false;
    auto* entry = reinterpret_cast<hostent*>(buffer);
    auto** aliases = reinterpret_cast<char**>(buffer + sizeof(hostent));
    char** list = aliases + 1;
    char* data = reinterpret_cast<char*>(list + addresses.size() + 1);
    aliases[0] = nullptr;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        std::memcpy(data, &addresses[i], sizeof(in_addr));
        list[i] = data;
        data += sizeof(in_addr);
    }
    list[addresses.size()] = nullptr;
    std::memcpy(data, name.c_str(), name.size() + 1);
    entry->h_name = data;
    entry->h_aliases = aliases;
    entry->h_addrtype = AF_INET;
    entry->h_length = sizeof(in_addr);
    entry->h_addr_list = list;
    return true;
}

} // namespace

int WSAErrorFromErrno(int error)
{
    switch (error) {
    case 0: return 0;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return 10037;
    case ENOTCONN: return WSAENOTCONN;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNRESET: return WSAECONNRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case EPIPE: return WSAESHUTDOWN;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return 10049;
    case EISCONN: return 10056;
    case ENOTSOCK: return WSAENOTSOCK;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case EBADF: return WSAEBADF;
    case EINTR: return WSAEINTR;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EMSGSIZE: return WSAEMSGSIZE;
    case ENETDOWN: return WSAENETDOWN;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EAFNOSUPPORT: return 10047;
    case EPROTONOSUPPORT: return 10043;
    case ENOPROTOOPT: return 10042;
    case EOPNOTSUPP: return 10045;
    default: return 10000 + error; // no Winsock counterpart: still an error
    }
}

int WSAStartup(WORD, WSADATA* data)
{
    ++startCount;
    if (data) {
        std::memset(data, 0, sizeof *data);
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0101;
        std::strncpy(data->szDescription, "Fetchlet Windows Sockets over POSIX sockets", WSADESCRIPTION_LEN);
        std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
        data->iMaxSockets = 32767;
        data->iMaxUdpDg = 65467;
    }
    return 0;
}

int WSACleanup()
{
    if (startCount == 0)
        return setError(10093);
    --startCount;
    return 0;
}

int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long events)
{
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return setErrno(errno);
    registrations().erase(s);
    if (msg == 0 || events == 0)
        return 0;
    auto r = std::make_unique<Registration>();
    r->id = nextRegistrationId++;
    r->s = s;
    r->window = window;
    r->msg = msg;
    r->events = events;
    int listening = 0;
    socklen_t length = sizeof listening;
    r->listening = ::getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    r->connected = !r->listening && ::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;
    Registration* raw = r.get();
    r->read = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Read);
    r->read->setEnabled(r->listening || r->connected);
    QObject::connect(r->read.get(), &QSocketNotifier::activated, [raw] { readable(*raw); });
    r->write = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Write);
    r->write->setEnabled(false);
    QObject::connect(r->write.get(), &QSocketNotifier::activated, [raw] { writable(*raw); });
    registrations()[s] = std::move(r);
    return 0;
}

WSATaskHandle WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buffer, int bufferLength)
{
    if (!name || !QCoreApplication::instance()) {
        setError(WSAEINVAL);
        return 0;
    }
    ensureSink();
    const WSATaskHandle task = nextLookup++;
    liveLookups.insert(task);
    std::thread([task, window, msg, host = std::string(name), buffer, bufferLength] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        const int rc = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
        std::vector<in_addr> addresses;
        for (addrinfo* a = rc == 0 ? result : nullptr; a; a = a->ai_next)
            if (a->ai_family == AF_INET)
                addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
        if (result)
            ::freeaddrinfo(result);
        int error = 0;
        if (rc == EAI_AGAIN)
            error = WSATRY_AGAIN;
        else if (rc != 0 || addresses.empty())
            error = WSAHOST_NOT_FOUND;
        std::lock_guard<std::mutex> guard(sinkLock);
        if (!sink)
            return;
        QMetaObject::invokeMethod(
            sink,
            [=] {
                if (liveLookups.erase(task) == 0 || !IsWindow(window))
                    return;
                int code = error;
                if (code == 0 && !fillHostEnt(buffer, bufferLength, host, addresses))
                    code = WSAENOBUFS;
                const LPARAM lParam = static_cast<LPARAM>(static_cast<std::uint32_t>(code == 0 ? bufferLength : 0) | (static_cast<std::uint32_t>(code) << 16));
                SendMessage(window, msg, task, lParam);
                wakeWaiter();
            },
            Qt::QueuedConnection);
    }).detach();
    return task;
}

WSATaskHandle WSAAsyncGetAddrInfo(HWND window, UINT msg, const char* name, std::vector<sockaddr_storage>* addresses)
{
    if (!name || !addresses || !QCoreApplication::instance()) {
        setError(WSAEINVAL);
        return 0;
    }
    ensureSink();
    const WSATaskHandle task = nextLookup++;
    liveLookups.insert(task);
    std::thread([task, window, msg, host = std::string(name), addresses] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        const int rc = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
        std::vector<sockaddr_storage> found;
        for (addrinfo* a = rc == 0 ? result : nullptr; a; a = a->ai_next) {
            if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_storage))
                continue;
            sockaddr_storage one{};
            std::memcpy(&one, a->ai_addr, a->ai_addrlen);
            bool seen = false;
            for (const sockaddr_storage& f : found)
                seen = seen || std::memcmp(&f, &one, sizeof one) == 0;
            if (!seen)
                found.push_back(one);
        }
        if (result)
            ::freeaddrinfo(result);
        int error = 0;
        if (rc == EAI_AGAIN)
            error = WSATRY_AGAIN;
        else if (rc != 0 || found.empty())
            error = WSAHOST_NOT_FOUND;
        std::lock_guard<std::mutex> guard(sinkLock);
        if (!sink)
            return;
        QMetaObject::invokeMethod(
            sink,
            [=] {
                if (liveLookups.erase(task) == 0 || !IsWindow(window))
                    return;
                if (error == 0)
                    *addresses = found;
                const LPARAM lParam = static_cast<LPARAM>(static_cast<std::uint32_t>(found.size() & 0xFFFF) |
                                                          (static_cast<std::uint32_t>(error) << 16));
                SendMessage(window, msg, task, lParam);
                wakeWaiter();
            },
            Qt::QueuedConnection);
    }).detach();
    return task;
}

std::string AddressText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = "";
    unsigned port = 0;
    std::string result;
    if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
        port = ntohs(a.sin6_port);
        result = std::string("[") + text + "]";
    } else {
        const auto& a = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        port = ntohs(a.sin_port);
        result = text;
    }
    if (port != 0)
        result += ":" + std::to_string(port);
    return result;
}

int WSACancelAsyncRequest(WSATaskHandle task)
{
    if (liveLookups.erase(task) == 0)
        return setError(WSAEINVAL);
    return 0;
}

int closesocket(SOCKET s)
{
    registrations().erase(s);
    if (::close(s) != 0)
        return setErrno(errno);
    return 0;
}

namespace winsock {

SOCKET socket(int af, int type, int protocol)
{
    const int s = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (s < 0) {
        setErrno(errno);
        return INVALID_SOCKET;
    }
    return s;
}

int setsockopt(SOCKET s, int level, int name, const void* value, int length)
{
    if (::setsockopt(s, level, name, value, static_cast<socklen_t>(length)) != 0)
        return setErrno(errno);
    return 0;
}

int connect(SOCKET s, const void* address, int length)
{
    Registration* r = findRegistration(s);
    if (r && (r->connected || r->connecting))
        return setError(r->connected ? 10056 : 10037);
    const int rc = ::connect(s, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length));
    const int error = rc == 0 ? 0 : errno;
    if (!r)
        return rc == 0 ? 0 : setErrno(error);
    switch (error) {
    case 0:
    case EINPROGRESS:
        // The outcome arrives with FD_CONNECT, as it does on Winsock.
        r->connecting = true;
        updateWrite(*r);
        return setError(WSAEWOULDBLOCK);
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ETIMEDOUT:
        post(*r, FD_CONNECT, WSAErrorFromErrno(error));
        return setError(WSAEWOULDBLOCK);
    default:
        return setErrno(error);
    }
}

int send(SOCKET s, const char* data, int length, int flags)
{
    const ssize_t n = ::send(s, data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    if (n < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            if (Registration* r = findRegistration(s)) {
                r->sendWait = true;
                updateWrite(*r);
            }
        return setErrno(error);
    }
    return static_cast<int>(n);
}

int recv(SOCKET s, char* data, int length, int flags)
{
    const ssize_t n = ::recv(s, data, static_cast<std::size_t>(length), flags);
    const int error = errno;
    if (Registration* r = findRegistration(s); r && r->connected && !r->closeSent) {
        r->readArmed = true;
        watchRead(*r, true);
    }
    if (n < 0)
        return setErrno(error);
    return static_cast<int>(n);
}

SOCKET accept(SOCKET s, void* address, int* length)
{
    socklen_t size = length ? static_cast<socklen_t>(*length) : 0;
    const int client = ::accept4(s, static_cast<sockaddr*>(address), length ? &size : nullptr, SOCK_CLOEXEC);
    const int error = errno;
    if (Registration* r = findRegistration(s); r && r->listening) {
        r->readArmed = true;
        watchRead(*r, true);
    }
    if (client < 0) {
        setErrno(error);
        return INVALID_SOCKET;
    }
    if (length)
        *length = static_cast<int>(size);
    return client;
}

} // namespace winsock
