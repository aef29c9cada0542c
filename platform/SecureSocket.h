// TSecureSocket: one TLS client session (OpenSSL 3) over a socket that
// WSAAsyncSelect has registered, so non-blocking.
//
// The session reads and writes the socket through winsock::recv and
// winsock::send (a BIO of its own), so the registration's notifications
// behave as for plain reads: FD_READ is re-armed by each read, a send that
// finds the buffer full makes the next WaitForMessages wake once the socket
// drains. No call here waits: every step answers Done, WantIo (wait for the
// socket's next event, then call again with the same arguments), Closed or
// Failed. The caller's wait loop does the waiting, with its time-out and its
// cancel.
//
// Verification as curl does it, and never switched off:
//  - TLS 1.2 and 1.3 only;
//  - the chain is checked against the system's trust store through
//    OpenSSL's default paths and, as Debian's curl does, ca-certificates'
//    folder /etc/ssl/certs (SSL_CERT_FILE and SSL_CERT_DIR replace both);
//  - a host name is sent as SNI and checked against the certificate's DNS
//    names (wildcards in the left-most label only); an IP address literal
//    (IPv4, or IPv6 with or without brackets) is checked against its IP
//    addresses and sends no SNI.
// Each session builds its own context, so the trust store in force is the
// one of the moment of connecting.
//
// Failure texts (Error()), this port's own:
//   "Certificate verify failed: REASON"  (REASON is OpenSSL's text of the
//                                          verification result, such as
//                                          "certificate has expired")
//   "TLS handshake failed: REASON"        (OpenSSL's reason, such as
//                                          "wrong version number" for a
//                                          plain HTTP server)
//   "TLS connection ended without close_notify"  (the peer closed the TCP
//                                          connection without ending TLS)
//   "TLS error: REASON"                   (a failure after the handshake)
#pragma once
#include "platform/WinSock.h"

#include <string>

struct ssl_st;
struct ssl_ctx_st;

class TSecureSocket {
public:
    enum Step { Done, WantIo, Closed, Failed };

    // host: the name or address the connection is meant for.
    TSecureSocket(SOCKET s, const std::string& host);
    ~TSecureSocket();
    TSecureSocket(const TSecureSocket&) = delete;
    TSecureSocket& operator=(const TSecureSocket&) = delete;

    // One step of the handshake; Done once the peer is verified.
    Step Handshake();
    // Up to `length` decrypted bytes into data (peek: left to be read
    // again). Done with *got > 0; Closed after the peer's close_notify.
    Step Read(char* data, int length, bool peek, int* got);
    // Some of the bytes (at least one on Done, *sent tells how many).
    Step Write(const char* data, int length, int* sent);
    // Decrypted bytes waiting inside the session.
    int Pending() const;
    // Sends close_notify once, without waiting for the peer's.
    void Shutdown();
    // The text of the last failure.
    const std::string& Error() const { return error_; }
    // The protocol in use once connected ("TLSv1.3").
    std::string Protocol() const;

private:
    Step Fail(int result, bool handshake);
    SOCKET socket_;
    ssl_ctx_st* context_ = nullptr;
    ssl_st* ssl_ = nullptr;
    bool shutdown_ = false;
    bool eof_ = false; // the socket read its end
    std::string error_;
};
