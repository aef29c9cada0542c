// TLS test peers on 127.0.0.1 (library fetchlet_testsupport_servers).
//
// TestCA       a certificate authority made in a temporary folder by the
//              openssl command line, and certificates it signs:
//                  TestCA ca;
//                  auto good = ca.Issue("localhost", "DNS:localhost,IP:127.0.0.1");
//                  auto old = ca.Issue("localhost", "DNS:localhost", "20200101000000Z", "20210101000000Z");
//                  auto self = TestCA::SelfSigned("localhost", "DNS:localhost");
//              CertFile() is what SSL_CERT_FILE names so that the code
//              under test trusts it (CaTrust sets it for a scope).
// TlsNginx     a real nginx serving TLS on a free 127.0.0.1 port: one
//              default server block with `first`, and more server blocks
//              chosen by SNI (server_name NAME) with their certificates.
// TlsScriptedServer  a TLS server on its own thread (OpenSSL, blocking),
//              one connection after the other, for replies that must be
//              exact or misbehave: the handler reads and writes through
//              TlsConnection and decides how the connection ends (with
//              close_notify or without).
#pragma once
#include "Servers.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct ssl_st;

namespace testsupport {

struct Certificate {
    std::string cert; // PEM file: the certificate (and its chain, if any)
    std::string key;  // PEM file: its private key
};

class TestCA {
public:
    TestCA();
    bool ok() const { return ok_; }
    const std::string& CertFile() const { return cert_; }
    // A certificate for commonName with the subjectAltName list `san`
    // ("DNS:localhost,IP:127.0.0.1"), valid now unless the dates (as
    // openssl ca takes them, "YYYYMMDDHHMMSSZ") say otherwise.
    Certificate Issue(const std::string& commonName, const std::string& san, const std::string& start = {},
                      const std::string& end = {});
    // A certificate that signs itself (no CA vouches for it).
    Certificate SelfSigned(const std::string& commonName, const std::string& san);

private:
    TempDir dir_;
    std::string cert_, key_;
    int serial_ = 0;
    bool ok_ = false;
};

// Sets SSL_CERT_FILE to the CA's file for the scope (and clears
// SSL_CERT_DIR), restoring both afterwards.
class CaTrust {
public:
    explicit CaTrust(const TestCA& ca);
    ~CaTrust();

private:
    std::string file_, dir_;
    bool hadFile_, hadDir_;
};

class TlsNginx {
public:
    // servers: server name and certificate of each SNI-chosen block.
    TlsNginx(const Certificate& first, const std::vector<std::pair<std::string, Certificate>>& servers = {},
             const std::string& extra = {});
    bool ok() const { return nginx_.ok(); }
    int port() const { return nginx_.port(); }
    const std::string& root() const { return nginx_.root(); }
    // https://HOST:PORT/PATH
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;
    std::string log() const { return nginx_.log(); }

private:
    NginxServer nginx_;
};

class TlsConnection {
public:
    TlsConnection(ssl_st* ssl, int fd) : ssl_(ssl), fd_(fd) {}
    int fd() const { return fd_; }
    // Up to the blank line that ends a request header (or the peer's end).
    std::string ReadRequest();
    bool Send(const std::string& bytes);
    // The connection ends without close_notify (a cut TLS stream).
    void CutOnClose() { cut_ = true; }
    bool cut() const { return cut_; }
    std::string request;

private:
    ssl_st* ssl_;
    int fd_;
    bool cut_ = false;
};

class TlsScriptedServer {
public:
    using Handler = std::function<void(TlsConnection&)>;
    TlsScriptedServer(const Certificate& certificate, Handler handler);
    ~TlsScriptedServer();
    TlsScriptedServer(const TlsScriptedServer&) = delete;
    TlsScriptedServer& operator=(const TlsScriptedServer&) = delete;
    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<std::string> Requests() const;
    // Waits (bounded) until `count` connections have been handled completely.
    bool WaitForConnections(std::size_t count) const;

private:
    void Run();
    mutable std::condition_variable done_;
    Certificate certificate_;
    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace testsupport
