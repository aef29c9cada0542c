#include "net/Psock.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

int componentCount = 0; // live components: Windows Sockets runs while > 0

constexpr long SocketEvents = FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 61
constexpr int ChunkSize = 65536;
// The most one read takes into memory a caller lends.
constexpr std::int64_t LentMost = ChunkSize;
constexpr auto QueueInterval = std::chrono::milliseconds(4);

struct ErrorText {
    std::int32_t number;
    const char* text;
};

constexpr ErrorText errorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
    {0, "Unrecognized error code"},
};

// Runs `off` when the scope ends, whichever way.
template <typename F>
struct Finally {
    F off;
    ~Finally() { off(); }
};
template <typename F>
Finally(F) -> Finally<F>;

} // namespace

// ---------------------------------------------------------------- TThreadTimer

TThreadTimer::TThreadTimer(TComponent* owner)
    : TComponent(owner),
      window_(std::make_unique<TMessageWindow>(
          [this](UINT msg, WPARAM, LPARAM) -> LRESULT {
              if (msg == WM_TIMER && onTimer_)
                  onTimer_(this); // exceptions go to the application's handler
              return 0;
          },
          "TmrWindowClass"))
{
}

TThreadTimer::~TThreadTimer()
{
    enabled_ = false;
    KillTimer(window_->Handle(), 1);
}

void TThreadTimer::SetEnabled(bool value)
{
    if (value != enabled_) {
        enabled_ = value;
        UpdateTimer();
    }
}

void TThreadTimer::SetInterval(unsigned value)
{
    if (value != interval_) {
        interval_ = value;
        UpdateTimer();
    }
}

void TThreadTimer::SetOnTimer(TNotifyEvent value)
{
    onTimer_ = std::move(value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    KillTimer(window_->Handle(), 1);
    if (interval_ != 0 && enabled_ && onTimer_)
        if (!SetTimer(window_->Handle(), 1, interval_))
            throw Exception("No Timer");
}

// ------------------------------------------------------------------ TPowersock

TPowersock::TPowersock(TComponent* owner)
    : TComponent(owner),
      buffer_(new char[BufferSize]),
      window_(std::make_unique<TMessageWindow>(
          [this](UINT msg, WPARAM wParam, LPARAM lParam) { return WindowProc(msg, wParam, lParam); },
          "PsockWindowClass")),
      timer_(std::make_unique<TThreadTimer>(this))
{
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TObject* Sender) { TimerTriggered(Sender); });
    InitWinsock();
}

void TPowersock::BeginDestroy()
{
    if (destroyBegun_)
        return;
    destroyBegun_ = true;
    ReportStatus(8, "Destroy");
    try {
        Abort(); // the most derived class's, when called from its destructor
        Cancel();
    } catch (...) {
    }
}

TPowersock::~TPowersock()
{
    BeginDestroy();
    if (lookup_ != 0)
        WSACancelAsyncRequest(lookup_);
    timer_.reset();
    window_.reset();
    destroying_ = true;
    SetState(csDestroying, true);
    try {
        RequestCloseSocket();
    } catch (...) {
    }
    if (counted_ && --componentCount == 0)
        WSACleanup();
}

void TPowersock::ReportStatus(int level, const std::string& text)
{
    if (level > ReportLevel)
        return;
    Status = text;
    if (!destroying_ && OnStatus) {
        try {
            OnStatus(this, text);
        } catch (...) {
        }
    }
}

int TPowersock::LastErrorNo()
{
    ReportStatus(8, "Getting LastError Number");
    return lastErrorNo_;
}

SOCKET TPowersock::NewSocket(bool linger, int family)
{
    const SOCKET s = winsock::socket(family, SOCK_STREAM, linger ? IPPROTO_TCP : 0);
    if (s == INVALID_SOCKET) {
        CheckSocketError(WSAEWOULDBLOCK);
        throw ESockError(ErrorMessage(static_cast<std::uint16_t>(WSAGetLastError())));
    }
    if (linger) {
        ::linger option{1, 0};
        winsock::setsockopt(s, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    if (WSAAsyncSelect(s, window_->Handle(), WM_ASYNCSOCKET, SocketEvents) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        CheckSocketError(0);
        throw ESockError(ErrorMessage(static_cast<std::uint16_t>(error)));
    }
    family_ = family;
    return s;
}

void TPowersock::ReplaceSocket(int family)
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
    socket_ = NewSocket(false, family);
}

void TPowersock::InitWinsock()
{
    ReportStatus(8, "Initializing Winsock");
    try {
        counted_ = true;
        if (++componentCount == 1) {
            WSADATA data;
            WSAStartup(0x0101, &data);
            auto version = [](WORD v) { return std::to_string(v >> 8) + "." + std::to_string(v & 0xFF); };
            WSAInfo.Add("Version= " + version(data.wVersion));
            WSAInfo.Add("High Version= " + version(data.wHighVersion));
            WSAInfo.Add(std::string("Description= ") + data.szDescription);
            WSAInfo.Add(std::string("System= ") + data.szSystemStatus);
            WSAInfo.Add("Max Sockets= " + std::to_string(data.iMaxSockets));
            WSAInfo.Add("Max Udp pack size= " + std::to_string(data.iMaxUdpDg));
        }
        try {
            socket_ = NewSocket(true, AF_INET);
        } catch (...) {
            counted_ = false;
            if (--componentCount == 0)
                WSACleanup();
            throw;
        }
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

LRESULT TPowersock::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg >= WM_ASYNCSOCKET)
        HandleSocketMessage(msg, wParam, lParam);
    return 0;
}

void TPowersock::HandleSocketMessage(UINT msg, WPARAM, LPARAM lParam)
{
    const auto word = static_cast<std::uint32_t>(lParam);
    ok_ = (word >> 16) == 0;
    try {
        if (msg == WM_ASYNCSOCKET) {
            switch (word & 0xFFFF) {
            case FD_READ:
                if (OnRead) {
                    try {
                        OnRead(this);
                    } catch (...) {
                    }
                }
                break;
            case FD_ACCEPT:
                Connected = true;
                if (OnAccept)
                    OnAccept(this);
                break;
            case FD_CONNECT:
                if (ok_) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                } else {
                    connectErrorNo_ = static_cast<int>(word >> 16);
                }
                break;
            case FD_CLOSE:
                if (!ok_)
                    closeError_ = static_cast<int>(word >> 16);
                if (tls_)
                    break; // the reader finds the end, and whether TLS ended it
                if (!DataAvailable())
                    RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (msg == WM_HOSTRESOLVED) {
            waitOver_ = true;
        }
    } catch (...) {
    }
}

void TPowersock::TimerOn() { TimerOnFor(false); }

void TPowersock::TimerOnFor(bool connecting)
{
    ReportStatus(8, "Timer On");
    timedOut_ = false;
    if (TimeOut < 0 || ConnectTimeOut < 0 || IdleTimeOut < 0)
        throw Exception("Range check error");
    const int interval = TimeOut != 0 ? TimeOut : connecting ? ConnectTimeOut : IdleTimeOut;
    // A running timer of the same interval goes on with its period (the
    // capture calls this after every chunk); only a new period starts anew.
    if (!timer_->Enabled() || timer_->Interval() != static_cast<unsigned>(interval))
        idleStart_ = std::chrono::steady_clock::now();
    timer_->SetInterval(static_cast<unsigned>(interval));
    timer_->SetEnabled(true);
}

void TPowersock::Progressed()
{
    if (TimeOut != 0 || IdleTimeOut == 0 || !timer_->Enabled())
        return;
    // Restarting costs a timer call: at most once a second, or four times
    // within a shorter limit.
    const auto now = std::chrono::steady_clock::now();
    if (now - idleStart_ < std::min<std::chrono::milliseconds>(std::chrono::seconds(1),
                                                                std::chrono::milliseconds(IdleTimeOut / 4)))
        return;
    idleStart_ = now;
    timer_->SetEnabled(false);
    timer_->SetEnabled(true);
}

void TPowersock::TimerOff()
{
    ReportStatus(8, "Timer Off");
    timer_->SetEnabled(false);
}

void TPowersock::TimerTriggered(TObject*)
{
    ReportStatus(8, "Timer Triggered");
    TimerOff();
    timedOut_ = true;
    waitOver_ = true;
    Abort();
}

void TPowersock::Cancel()
{
    ReportStatus(8, "Canceling");
    canceled_ = true;
}

void TPowersock::Abort()
{
    ReportStatus(8, "Abort");
    Cancel();
}

void TPowersock::ResolveHost()
{
    ReportStatus(8, "Resolve Host");
    std::string name = Proxy.empty() ? Host : Proxy;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2); // an IPv6 literal as URLs write it
    const std::size_t length = std::min<std::size_t>(name.size(), BufferSize - 1);
    std::memcpy(buffer_.get(), name.data(), length);
    buffer_[length] = '\0';
    addresses_.clear();
    sockaddr_storage literal{};
    const in_addr_t address = inet_addr(buffer_.get());
    if (address != INADDR_NONE) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(literal);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = address;
        addresses_.push_back(literal);
        return;
    }
    if (auto& v6 = reinterpret_cast<sockaddr_in6&>(literal); inet_pton(AF_INET6, buffer_.get(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        addresses_.push_back(literal);
        return;
    }
    TimerOnFor(true);
    waitOver_ = false;
    std::vector<sockaddr_storage> found;
    lookup_ = WSAAsyncGetAddrInfo(window_->Handle(), WM_HOSTRESOLVED, buffer_.get(), &found);
    {
        Finally off{[this] {
            if (lookup_ != 0)
                WSACancelAsyncRequest(lookup_); // a late answer must not land later
            lookup_ = 0;
            TimerOff();
        }};
        while (!waitOver_ && !timedOut_ && !canceled_)
            WaitForMessages();
    }
    if (timedOut_)
        throw ESockError("Host Lookup Timed Out");
    if (canceled_)
        throw ESockError("Host Lookup Canceled");
    if (!ok_ || found.empty())
        throw ESockError("Host Lookup Failed");
    addresses_ = std::move(found);
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect()
{
    ReportStatus(8, "Connecting");
    canceled_ = false;
    if (Connected)
        throw ESockError("Already connected");
    closeError_ = 0;
    connectErrorNo_ = 0;
    for (int retry = 0;; ++retry) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            if (e.Message() == "Host Lookup Timed Out" || e.Message() == "Host Lookup Canceled")
                throw;
        }
        if (!addresses_.empty())
            break;
        bool handled = false;
        if (retry > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        OnInvalidHost(this, handled);
        if (!handled)
            throw ESockError("Null Remote Address");
    }
    // Every address in turn, within one time-out, until one connects.
    const std::uint16_t port = htons(static_cast<std::uint16_t>(Proxy.empty() ? Port : ProxyPort));
    TimerOnFor(true);
    {
        Finally off{[this] { TimerOff(); }};
        for (std::size_t i = 0; i < addresses_.size(); ++i) {
            remote_ = addresses_[i];
            if (remote_.ss_family == AF_INET6)
                reinterpret_cast<sockaddr_in6&>(remote_).sin6_port = port;
            else
                reinterpret_cast<sockaddr_in&>(remote_).sin_port = port;
            const bool last = i + 1 == addresses_.size();
            ReportStatus(8, "Connecting to " + AddressText(remote_));
            waitOver_ = false;
            ok_ = true;
            try {
                if (i > 0 || family_ != remote_.ss_family || socket_ == INVALID_SOCKET)
                    ReplaceSocket(remote_.ss_family); // a failed attempt's socket is spent
                const int size = remote_.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
                if (winsock::connect(socket_, &remote_, size) == SOCKET_ERROR)
                    CheckSocketError(WSAEWOULDBLOCK);
            } catch (const ESockError&) {
                if (last) // a family the system lacks, say: the next address may do
                    throw;
                continue;
            }
            while (!Connected && !timedOut_ && !canceled_ && ok_)
                WaitForMessages();
            if (Connected || timedOut_ || canceled_)
                break;
        }
    }
    if (!timedOut_ && !canceled_ && ok_) {
        if (Secure && Proxy.empty())
            StartSecure();
        return;
    }
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (timedOut_)
        throw ESockError("Connection Timed out");
    if (canceled_)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TPowersock::Disconnect()
{
    ReportStatus(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::RequestCloseSocket()
{
    ReportStatus(4, "Request Close Socket");
    Connected = false;
    if (socket_ == INVALID_SOCKET)
        return;
    if (tls_) {
        tls_->Shutdown();
        tls_.reset();
    }
    const SOCKET old = socket_;
    socket_ = INVALID_SOCKET;
    if (closesocket(old) == SOCKET_ERROR) {
        CheckSocketError(WSAEWOULDBLOCK);
        return;
    }
    if (destroying_)
        return;
    if (OnDisconnect)
        OnDisconnect(this);
    if (!destroying_)
        socket_ = NewSocket(false, AF_INET);
}

void TPowersock::SendAll(const char* data, std::size_t length, bool countSent)
{
    std::size_t sent = 0;
    while (sent < length && !canceled_) {
        const int n = SendSome(data + sent, static_cast<int>(std::min<std::size_t>(length - sent, ChunkSize)));
        if (n == 0)
            break;
        if (n < 0) {
            CheckSocketError(WSAEWOULDBLOCK);
            WaitForMessages(); // the socket's buffer is full: wait until it drains
            continue;
        }
        sent += static_cast<std::size_t>(n);
        Progressed();
        if (countSent) {
            BytesSent += n;
            if (OnPacketSent)
                OnPacketSent(this);
            ProcessMessages();
        }
    }
}

void TPowersock::SendBuffer(const char* block, std::uint16_t length)
{
    ReportStatus(4, "Sending Buffer");
    TimerOn();
    {
        Finally off{[this] { TimerOff(); }};
        if (!canceled_) {
            const std::size_t size = length != 0 ? length : ::strnlen(block, 65535);
            SendAll(block, size, false);
        }
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::Write(const std::string& text)
{
    ReportStatus(8, "Write");
    const std::size_t nul = text.find('\0');
    const std::size_t length = nul == std::string::npos ? text.size() : nul;
    if (length >= ChunkSize)
        throw ESockError("Text too long to send");
    std::memcpy(buffer_.get(), text.data(), length);
    buffer_[length] = '\0';
    SendBuffer(buffer_.get(), 0);
}

void TPowersock::Writeln(const std::string& text)
{
    ReportStatus(8, "Writeln");
    Write(text + "\r\n");
}

void TPowersock::SendFile(const std::string& fileName)
{
    ReportStatus(8, "SendFile");
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file)
        throw EFOpenError::CannotOpen(fileName);
    {
        Finally close{[file] { std::fclose(file); }};
        while (!canceled_) {
            const std::size_t n = std::fread(buffer_.get(), 1, ChunkSize, file);
            if (n == 0)
                break;
            SendAll(buffer_.get(), n, true);
        }
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

std::string TPowersock::ReadLn()
{
    ReportStatus(8, "ReadLn");
    TimerOn();
    Finally off{[this] { TimerOff(); }};
    std::string line;
    std::size_t consumed = 0;
    for (;;) {
        if (consumed >= ChunkSize)
            throw ESockError("Line too long");
        const int n = Receive(buffer_.get() + consumed, static_cast<int>(ChunkSize - consumed), true);
        if (n == 0)
            return {};
        if (n < 0) {
            lastErrorNo_ = WSAGetLastError();
            if (lastErrorNo_ == WSAENOTCONN) {
                RaiseCloseError();
                return {};
            }
            CheckSocketError(WSAEWOULDBLOCK);
            WaitForMessages(); // nothing has arrived yet
        } else {
            const char* start = buffer_.get() + consumed;
            const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(n));
            const int take = lf ? static_cast<int>(static_cast<const char*>(lf) - start) + 1 : n;
            const int got = Receive(buffer_.get() + consumed, take, false);
            if (got > 0) {
                line.append(start, static_cast<std::size_t>(got));
                consumed += static_cast<std::size_t>(got);
                Progressed();
            }
            if (lf && got == take)
                return line;
            ProcessMessages();
        }
        if (canceled_)
            break;
    }
    canceled_ = false;
    throw EAbortError("Socket readln aborted");
}

void TPowersock::Capture(const std::function<void(const char*, int)>& store, std::int64_t maximum,
                         const std::function<std::int64_t()>& length, std::int64_t expected,
                         TChunkedDecoder* chunked)
{
    auto lastRun = std::chrono::steady_clock::now();
    while (!canceled_) {
        if (maximum != -1 && length() >= maximum)
            break;
        const std::int64_t remaining = expected >= 0 ? expected - BytesRecvd : INT64_MAX;
        if (remaining <= 0)
            break;
        int want = static_cast<int>(std::min<std::int64_t>(remaining, ChunkSize));
        // A caller that keeps the bytes may lend the memory they go to, as
        // much as it has room for (fewer, larger reads).
        char* target = buffer_.get();
        if (lending_ && OnCaptureBuffer) {
            std::size_t room = static_cast<std::size_t>(want);
            if (char* lent = OnCaptureBuffer(room); lent && room > 0) {
                target = lent;
                want = static_cast<int>(std::min<std::int64_t>({static_cast<std::int64_t>(room), remaining, LentMost}));
            }
        }
        const int n = Receive(target, want, false);
        if (n > 0) {
            const int data = chunked ? static_cast<int>(chunked->Decode(target, static_cast<std::size_t>(n))) : n;
            if (data > 0) {
                store(target, data);
                BytesRecvd += data;
            }
            if (chunked && chunked->Failed()) {
                lastErrorNo_ = 0;
                throw ESockError(chunked->Error());
            }
            if (OnPacketRecvd)
                OnPacketRecvd(this);
            TimerOn();
            Progressed();
            // While data streams in, the queue runs every few milliseconds:
            // often enough for any GUI, rarely enough to cost nothing.
            const auto now = std::chrono::steady_clock::now();
            if (now - lastRun >= QueueInterval) {
                ProcessMessages();
                lastRun = now;
            }
            if (chunked && chunked->Done())
                break;
        } else if (n == 0) {
            break; // the peer closed
        } else {
            lastErrorNo_ = WSAGetLastError();
            if (lastErrorNo_ == WSAENOTCONN) {
                RaiseCloseError();
                break;
            }
            CheckSocketError(WSAEWOULDBLOCK);
            WaitForMessages(); // nothing has arrived yet
        }
    }
    if (!canceled_ && chunked && !chunked->Done()) {
        lastErrorNo_ = 0;
        throw ESockError("Transfer closed with outstanding read data remaining (" + std::to_string(BytesRecvd) +
                         " bytes received, the last chunk missing)");
    }
    if (!canceled_ && expected >= 0 && BytesRecvd < expected) {
        lastErrorNo_ = 0;
        throw ESockError("Transfer closed with outstanding read data remaining (" + std::to_string(BytesRecvd) +
                         " of " + std::to_string(expected) + " bytes received)");
    }
}

void TPowersock::RaiseCloseError()
{
    if (closeError_ == 0)
        return;
    lastErrorNo_ = closeError_;
    const std::string text = ErrorMessage(static_cast<std::uint16_t>(closeError_));
    if (OnSocketError)
        OnSocketError(this, static_cast<std::uint16_t>(closeError_), text);
    throw ESockError(text);
}

int TPowersock::Receive(char* data, int length, bool peek)
{
    if (!tls_)
        return winsock::recv(socket_, data, length, peek ? MSG_PEEK : 0);
    int got = 0;
    switch (tls_->Read(data, length, peek, &got)) {
    case TSecureSocket::Done:
        return got;
    case TSecureSocket::Closed:
        return 0;
    case TSecureSocket::WantIo:
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    case TSecureSocket::Failed:
        break;
    }
    lastErrorNo_ = 0;
    RaiseCloseError(); // a reset says more than the session's end
    throw ESockError(tls_->Error());
}

int TPowersock::SendSome(const char* data, int length)
{
    if (!tls_)
        return winsock::send(socket_, data, length, 0);
    int sent = 0;
    switch (tls_->Write(data, length, &sent)) {
    case TSecureSocket::Done:
        return sent;
    case TSecureSocket::WantIo:
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    case TSecureSocket::Closed:
    case TSecureSocket::Failed:
        break;
    }
    lastErrorNo_ = 0;
    RaiseCloseError();
    throw ESockError(tls_->Error().empty() ? std::string("TLS connection ended without close_notify") : tls_->Error());
}

void TPowersock::StartSecure()
{
    ReportStatus(8, "Start Secure");
    tls_ = std::make_unique<TSecureSocket>(socket_, Host);
    TSecureSocket::Step step = TSecureSocket::WantIo;
    TimerOnFor(true);
    {
        Finally off{[this] { TimerOff(); }};
        while (!canceled_ && !timedOut_) {
            step = tls_->Handshake();
            if (step != TSecureSocket::WantIo)
                break;
            WaitForMessages();
        }
    }
    if (step == TSecureSocket::Done)
        return;
    std::string text = step == TSecureSocket::Closed ? "TLS handshake failed: the server closed the connection"
                                                     : tls_->Error();
    const bool timedOut = timedOut_, canceled = canceled_ && !timedOut_;
    lastErrorNo_ = 0;
    tls_.reset();
    RequestCloseSocket();
    if (timedOut)
        throw ESockError("TLS handshake timed out");
    if (canceled) {
        canceled_ = false;
        throw EAbortError("TLS handshake aborted");
    }
    throw ESockError(text);
}

void TPowersock::CaptureFile(const std::string& fileName) { CaptureFile(fileName, -1, false); }

void TPowersock::CaptureFile(const std::string& fileName, std::int64_t expected, bool append,
                             TChunkedDecoder* chunked)
{
    ReportStatus(8, "CaptureFile");
    BytesRecvd = 0;
    TimerOn();
    {
        Finally off{[this] { TimerOff(); }};
        std::FILE* file = OpenForWriting(fileName, append);
        if (!file)
            throw EFCreateError::CannotCreate(fileName);
        std::setvbuf(file, nullptr, _IONBF, 0); // chunks are large: one write each
        Finally close{[&file] {
            if (file)
                std::fclose(file);
        }};
        auto writeError = [&fileName] {
            const int error = errno;
            throw EStreamError("ファイル " + fileName + " に書き込めません (" + std::strerror(error) + ")", error);
        };
        lending_ = true;
        Finally lent{[this] { lending_ = false; }};
        Capture(
            [&](const char* data, int n) {
                if (std::fwrite(data, 1, static_cast<std::size_t>(n), file) != static_cast<std::size_t>(n))
                    writeError();
                if (OnCaptured)
                    OnCaptured(data, static_cast<std::size_t>(n));
            },
            -1, [] { return std::int64_t(0); }, expected, chunked);
        const bool flushed = std::fclose(file) == 0;
        file = nullptr;
        if (!flushed)
            writeError();
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket capture aborted");
    }
}

void TPowersock::CaptureString(std::string& text, std::int64_t maximum) { CaptureString(text, maximum, -1); }

void TPowersock::CaptureString(std::string& text, std::int64_t maximum, std::int64_t expected,
                               TChunkedDecoder* chunked)
{
    ReportStatus(8, "Capture String");
    text.clear();
    BytesRecvd = 0;
    TimerOn();
    {
        Finally off{[this] { TimerOff(); }};
        Capture([&](const char* data, int n) { text.append(data, static_cast<std::size_t>(n)); }, maximum,
                [&] { return static_cast<std::int64_t>(text.size()); }, expected, chunked);
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket capture aborted");
    }
}

bool TPowersock::DataAvailable()
{
    ReportStatus(8, "Data Available");
    if (tls_ && tls_->Pending() > 0)
        return true;
    return winsock::recv(socket_, buffer_.get(), 1, MSG_PEEK) >= 1;
}

std::string TPowersock::Transaction(const std::string& command)
{
    ReportStatus(8, "Transaction");
    ReplyNumber = 0;
    Writeln(command);
    TransactionReply = ReadLn();
    if (!TransactionReply.empty()) {
        ReportStatus(1, TransactionReply);
        std::string digits;
        for (char c : TransactionReply) {
            if (c < '0' || c > '9' || digits.size() == 10)
                break;
            digits += c;
        }
        if (!digits.empty()) {
            const long long value = std::stoll(digits);
            if (value > 32767)
                throw Exception("Range check error");
            ReplyNumber = static_cast<int>(value);
        }
    }
    return TransactionReply;
}

SOCKET TPowersock::Accept()
{
    ReportStatus(4, "Accepting");
    while (!waitOver_ && !canceled_)
        WaitForMessages();
    if (canceled_)
        throw ESockError("Accepting Canceled");
    if (!ok_)
        throw ESockError("Error creating Data Connection");
    sockaddr_storage peer{};
    int length = sizeof peer;
    const SOCKET s = winsock::accept(socket_, &peer, &length);
    if (s == INVALID_SOCKET) {
        CheckSocketError(WSAEWOULDBLOCK);
        throw ESockError("Error creating Data Connection");
    }
    if (WSAAsyncSelect(s, window_->Handle(), WM_ASYNCSOCKET, SocketEvents) == SOCKET_ERROR) {
        closesocket(s);
        throw ESockError("Error creating Data Connection");
    }
    remote_ = peer;
    return s;
}

void TPowersock::CheckSocketError(int tolerated)
{
    lastErrorNo_ = WSAGetLastError();
    if (lastErrorNo_ != tolerated && lastErrorNo_ > 10000) {
        const std::string text = ErrorMessage(static_cast<std::uint16_t>(lastErrorNo_));
        if (OnSocketError)
            OnSocketError(this, static_cast<std::uint16_t>(lastErrorNo_), text);
        throw ESockError(text);
    }
}

std::string TPowersock::ErrorMessage(std::uint16_t errorNo)
{
    ReportStatus(8, "Looking Up Error Message");
    if (errorNo == 0)
        return {};
    for (const ErrorText& row : errorTexts)
        if (row.number != 0 && row.number == errorNo)
            return std::to_string(errorNo) + ":" + row.text;
    return "Unknown Error No. " + std::to_string(errorNo);
}
