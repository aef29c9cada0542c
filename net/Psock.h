// TPowersock: one TCP client socket with blocking-style operations for the
// GUI thread (resolve, connect, send, read a line, capture until the peer
// closes, disconnect), and TThreadTimer, the time-out timer it owns.
//
// The socket is non-blocking; Windows Sockets events arrive as messages
// (1125 socket events, 1126 lookups finished) on a hidden window of the
// component. Every wait blocks in the event dispatcher (WaitForMessages) until
// a socket event, a timer or another event arrives, so the GUI keeps running
// and Cancel/Abort/time-outs reach the running operation, and a slow peer
// costs no CPU. Capture loops let the queue run every 4 ms while
// data streams in (not after every chunk: at loopback speed that would cost
// more than the transfer) and wait in the dispatcher when nothing has
// arrived yet; the line reader lets it run after each partial line.
//
// Property style: plain properties are public fields named as the component
// names them (`Host`, `Port`, `TimeOut`, `ReportLevel`, `BytesRecvd`,
// `OnStatus` ...); a property whose access has an effect is a function
// (`LastErrorNo()` reports "Getting LastError Number" at level 8; the
// timer's `SetEnabled`/`SetInterval`/`SetOnTimer` apply the OS timer).
//
// Choices of this port:
//  - BytesRecvd, BytesSent and BytesTotal are 64-bit, so bodies of 2 GiB and
//    more are counted right.
//  - Socket handles are plain ints; INVALID_SOCKET (-1) means "no socket".
//  - A send that finds the socket's buffer full waits in the dispatcher for
//    the socket to drain (time-outs and Cancel still work) instead of
//    retrying at once in a tight loop.
//  - The time-out timer restarts only when its interval changes: TimeOut
//    bounds a whole capture, not the gap between two chunks.
//  - Notifications of a socket that has been closed are dropped, so a
//    late FD_CLOSE of the previous connection never closes the next one.
//  - The lookup message's low word (8) is ignored.
//  - Limits fail with clear errors: Write of 65,536 bytes or more before a
//    NUL raises ESockError "Text too long to send"; a line longer than
//    65,536 bytes raises ESockError "Line too long" from ReadLn; a negative
//    TimeOut, and a Transaction reply number outside 16 bits, raise the
//    general exception "Range check error".
//  - A lookup that ends by time-out or cancel is withdrawn, so its late
//    answer never lands in a later wait.
//  - IPv6: Host and Proxy may be IPv6 literals (with or without the
//    brackets URLs put around them); names are looked up for both families
//    (WSAAsyncGetAddrInfo) and every address is tried in turn, within one
//    time-out, until one connects, each on a socket of its family. The
//    remote address is a sockaddr_storage; the lookup fills no hostent, so
//    the component keeps no host-entry buffer. "Connecting to ADDRESS"
//    (level 8) names each attempt, RemoteAddress() the last.
//  - A connection that the peer resets (FD_CLOSE carrying an error, such as
//    10054) ends a running read or capture with that error as ESockError
//    (LastErrorNo holds it), not as the orderly end of the data. The error
//    word of a failed connection attempt is kept in ConnectErrorNo() (the
//    Part's LastErrorNo stays as it was), so callers can tell a refused
//    connection from an unreachable host.
//  - A capture may be told how many bytes to take (CaptureFile and
//    CaptureString with `expected`): it stops there without waiting for the
//    peer to close, and a peer that closes or resets before raises ESockError
//    "Transfer closed with outstanding read data remaining (N of M bytes
//    received)" with LastErrorNo 0 (or the reset's number). A capture may
//    also be given a TChunkedDecoder: it then stores and counts (BytesRecvd)
//    only the data of the chunks, stops after the last chunk, fails with
//    the decoder's ESockError "Invalid chunked encoding (...)" and, when the
//    peer closes or resets before the last chunk, with "Transfer closed
//    with outstanding read data remaining (N bytes received, the last
//    chunk missing)" (LastErrorNo as above). CaptureFile can
//    append to the file instead of replacing it. A write error names its
//    cause ("ファイル F に書き込めません (No space left on device)").
//  - Limits beside TimeOut, for callers that want them: while TimeOut is 0,
//    ConnectTimeOut bounds the lookup, the connection and the TLS handshake,
//    and IdleTimeOut bounds every wait for the peer's next bytes (restarted
//    whenever bytes move, at most once a second or four times within the
//    limit), so a slow but moving
//    transfer of any length completes. TimedOut() tells whether the last
//    operation ended by a time-out rather than a cancel. Both 0 (the
//    default): no limit, as before.
//  - TLS (Secure): after the connection stands, Connect runs the TLS
//    handshake through TSecureSocket (platform/SecureSocket.h) inside the
//    same wait loop, bounded by the time-out and ended by Cancel or Abort;
//    every read, peek and send then goes through the session, and bytes
//    already decrypted are read before the loop waits again. Failures:
//    ESockError with TSecureSocket's texts ("Certificate verify failed:
//    certificate has expired", "TLS handshake failed: wrong version
//    number", "TLS connection ended without close_notify"), raised after
//    the connection is closed; "TLS handshake timed out" (ESockError), and
//    EAbortError "TLS handshake aborted" for a cancel. While TLS runs, the
//    peer's close is left for the reader to find (it needs to tell
//    close_notify from a cut connection), and closing sends close_notify.
//    StartSecure() runs the handshake on a connection that already stands
//    (a proxy's tunnel).
//  - OnCaptured sees every chunk that CaptureFile writes to its file, once
//    written, so a caller can hash a download as it arrives instead of
//    reading the file again; OnCaptureBuffer lets it lend the memory the
//    chunks are received into, so they are not copied for it.
#pragma once
#include "net/ChunkedDecoder.h"
#include "platform/MessageWindow.h"
#include "platform/SecureSocket.h"
#include "platform/WinSock.h"
#include "runtime/Classes.h"
#include "runtime/Exceptions.h"
#include "runtime/StringList.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ESockError : public Exception {
public:
    using Exception::Exception;
};

// An operation ended because it was canceled (Cancel, Abort or a time-out).
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

using THandlerEvent = std::function<void(TObject* Sender, bool& Handled)>;
using TOnHostResolved = std::function<void(TObject* Sender)>;
using TOnStatus = std::function<void(TObject* Sender, const std::string& Status)>;
using TOnSocketError = std::function<void(TObject* Sender, std::uint16_t ErrorNo, const std::string& Msg)>;

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* owner = nullptr);
    ~TThreadTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned value);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent value);

private:
    void UpdateTimer();
    bool enabled_ = true;
    unsigned interval_ = 1000;
    TNotifyEvent onTimer_;
    std::unique_ptr<TMessageWindow> window_;
};

class TPowersock : public TComponent {
public:
    static constexpr UINT WM_ASYNCSOCKET = WM_USER + 101; // 1125
    static constexpr UINT WM_HOSTRESOLVED = WM_USER + 102; // 1126
    static constexpr int BufferSize = 65537;

    explicit TPowersock(TComponent* owner = nullptr);
    ~TPowersock() override;
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;

    // Published.
    std::string Host;
    int Port = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    std::string Proxy;
    int ProxyPort = 0;

    // Public state.
    int LastErrorNo();
    std::int64_t BytesRecvd = 0;
    std::int64_t BytesSent = 0;
    std::int64_t BytesTotal = 0;
    int ReplyNumber = 0;
    std::string TransactionReply;
    std::string Status;
    TStringList WSAInfo;
    bool Connected = false;

    // This port's additions (see the header comment).
    bool Secure = false;
    int ConnectTimeOut = 0;
    int IdleTimeOut = 0;
    bool TimedOut() const { return timedOut_; }
    int ConnectErrorNo() const { return connectErrorNo_; }
    // The protocol of the secure session ("TLSv1.3"), empty when none.
    std::string SecureProtocol() const { return tls_ ? tls_->Protocol() : std::string(); }
    // The address of the last connection attempt ("127.0.0.1:80",
    // "[::1]:8080"), empty before the first.
    std::string RemoteAddress() const { return remote_.ss_family ? AddressText(remote_) : std::string(); }

    // Every chunk CaptureFile writes, as it is written (a caller that
    // hashes the file as it arrives).
    std::function<void(const char* data, std::size_t length)> OnCaptured;
    // Where CaptureFile receives the next bytes, for a caller that keeps
    // them (room: the most wanted; set to what fits there): they then reach
    // OnCaptured where they were received, never copied for it. Null: the
    // component's own buffer.
    std::function<char*(std::size_t& room)> OnCaptureBuffer;

    TNotifyEvent OnRead;
    TNotifyEvent OnAccept;
    TOnSocketError OnSocketError;

    // Operations.
    virtual SOCKET Accept();
    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();

    void RequestCloseSocket();
    void Cancel();
    // length 0: up to the first NUL byte (at most 65,535 bytes).
    void SendBuffer(const char* block, std::uint16_t length);
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    std::string ReadLn();
    void SendFile(const std::string& fileName);
    void CaptureFile(const std::string& fileName);
    // expected -1: until the peer closes. chunked: the body comes in
    // chunks, which it takes off.
    void CaptureFile(const std::string& fileName, std::int64_t expected, bool append,
                     TChunkedDecoder* chunked = nullptr);
    // maximum -1: no maximum.
    void CaptureString(std::string& text, std::int64_t maximum);
    void CaptureString(std::string& text, std::int64_t maximum, std::int64_t expected,
                       TChunkedDecoder* chunked = nullptr);
    void StartSecure();
    bool DataAvailable();
    void ResolveHost();
    std::string ErrorMessage(std::uint16_t errorNo);
    void CheckSocketError(int tolerated);
    void TimerOn();
    void TimerOff();
    void TimerTriggered(TObject* Sender);

    SOCKET Socket() const { return socket_; }

protected:
    void ReportStatus(int level, const std::string& text);
    // The first steps of destruction ("Destroy", Abort, Cancel); a derived
    // class calls it from its own destructor so that its Abort is the one
    // that runs.
    void BeginDestroy();
    void InitWinsock();
    bool Canceled() const { return canceled_; }
    // For failures of the protocol rather than of a socket call: they leave
    // LastErrorNo 0.
    void ClearLastErrorNo() { lastErrorNo_ = 0; }
    bool WaitOver() const { return waitOver_; }
    void SetWaitOver(bool value) { waitOver_ = value; }
    // The caller's part of a capture: where each received chunk goes.
    void Capture(const std::function<void(const char*, int)>& store, std::int64_t maximum,
                 const std::function<std::int64_t()>& length, std::int64_t expected = -1,
                 TChunkedDecoder* chunked = nullptr);
    // recv and send through the secure session when there is one: > 0
    // bytes, 0 the peer closed, SOCKET_ERROR with WSAGetLastError (10035:
    // wait for the socket's next event). A failure of the session raises.
    int Receive(char* data, int length, bool peek);
    int SendSome(const char* data, int length);
    // The time-out for the coming wait: TimeOut, else ConnectTimeOut or
    // IdleTimeOut.
    void TimerOnFor(bool connecting);
    // Bytes moved: restarts an idle limit.
    void Progressed();

private:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void HandleSocketMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    SOCKET NewSocket(bool linger, int family);
    // A fresh unconnected socket of the family in place of the current one.
    void ReplaceSocket(int family);
    void SendAll(const char* data, std::size_t length, bool countSent);

    // A read that found the socket replaced after the peer's close: the
    // close's error, if it carried one, becomes the read's failure.
    void RaiseCloseError();

    SOCKET socket_ = INVALID_SOCKET;
    std::unique_ptr<TSecureSocket> tls_;
    int closeError_ = 0;
    int connectErrorNo_ = 0;
    std::chrono::steady_clock::time_point idleStart_{};
    sockaddr_storage remote_{};
    std::vector<sockaddr_storage> addresses_;
    int family_ = AF_INET;
    std::unique_ptr<char[]> buffer_;
    std::unique_ptr<TMessageWindow> window_;
    std::unique_ptr<TThreadTimer> timer_;
    WSATaskHandle lookup_ = 0;
    int lastErrorNo_ = 0;
    bool canceled_ = false;
    bool timedOut_ = false;
    bool ok_ = true;
    bool waitOver_ = false;
    bool destroying_ = false;
    bool destroyBegun_ = false;
    bool counted_ = false;
    bool lending_ = false; // CaptureFile receives where OnCaptureBuffer says
};
