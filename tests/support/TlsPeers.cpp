#include "TlsPeers.h"

#include "Commands.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

bool run(const std::string& command)
{
    const CommandResult r = RunShell(command);
    return r.exitCode == 0;
}

} // namespace

// ---------------------------------------------------------------------- TestCA

TestCA::TestCA()
{
    const std::string d = dir_.path();
    cert_ = d + "/ca.crt";
    key_ = d + "/ca.key";
    ::mkdir((d + "/issued").c_str(), 0700);
    WriteFile(d + "/index.txt", "");
    WriteFile(d + "/serial", "1000\n");
    WriteFile(d + "/ca.cnf", "[ ca ]\ndefault_ca = test\n[ test ]\ndir = " + d +
                                 "\ndatabase = $dir/index.txt\nnew_certs_dir = $dir/issued\nserial = $dir/serial\n"
                                 "default_md = sha256\npolicy = anything\nunique_subject = no\ndefault_days = 30\n"
                                 "[ anything ]\ncommonName = supplied\n");
    ok_ = run("cd " + ShellQuote(d) +
              " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key"
              " -out ca.crt -days 30 -subj '/CN=Fetchlet Test CA' -addext basicConstraints=critical,CA:TRUE"
              " -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null");
}

Certificate TestCA::Issue(const std::string& commonName, const std::string& san, const std::string& start,
                          const std::string& end)
{
    const std::string d = dir_.path();
    const std::string name = "leaf" + std::to_string(++serial_);
    Certificate c{d + "/" + name + ".crt", d + "/" + name + ".key"};
    WriteFile(d + "/" + name + ".ext", "subjectAltName = " + san + "\nbasicConstraints = CA:FALSE\n"
                                                                  "extendedKeyUsage = serverAuth\n");
    std::string dates = start.empty() ? std::string() : " -startdate " + start;
    if (!end.empty())
        dates += " -enddate " + end;
    const bool made = run("cd " + ShellQuote(d) + " && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1"
                          " -nodes -keyout " + name + ".key -out " + name + ".csr -subj " +
                          ShellQuote("/CN=" + commonName) + " 2>/dev/null && openssl ca -batch -notext -config ca.cnf"
                          " -cert ca.crt -keyfile ca.key -in " + name + ".csr -out " + name + ".crt -extfile " +
                          name + ".ext" + dates + " 2>/dev/null");
    if (!made)
        throw std::runtime_error("openssl could not issue a certificate for " + commonName);
    return c;
}

Certificate TestCA::SelfSigned(const std::string& commonName, const std::string& san)
{
    const std::string d = dir_.path();
    const std::string name = "self" + std::to_string(++serial_);
    Certificate c{d + "/" + name + ".crt", d + "/" + name + ".key"};
    if (!run("cd " + ShellQuote(d) + " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
             " -keyout " + name + ".key -out " + name + ".crt -days 30 -subj " + ShellQuote("/CN=" + commonName) +
             " -addext " + ShellQuote("subjectAltName=" + san) + " 2>/dev/null"))
        throw std::runtime_error("openssl could not make a self-signed certificate");
    return c;
}

// --------------------------------------------------------------------- CaTrust

CaTrust::CaTrust(const TestCA& ca)
{
    const char* file = std::getenv("SSL_CERT_FILE");
    const char* dir = std::getenv("SSL_CERT_DIR");
    hadFile_ = file != nullptr;
    hadDir_ = dir != nullptr;
    file_ = file ? file : "";
    dir_ = dir ? dir : "";
    ::setenv("SSL_CERT_FILE", ca.CertFile().c_str(), 1);
    // A folder without certificates: only the test's CA is trusted.
    ::setenv("SSL_CERT_DIR", "/nonexistent", 1);
}

CaTrust::~CaTrust()
{
    if (hadFile_)
        ::setenv("SSL_CERT_FILE", file_.c_str(), 1);
    else
        ::unsetenv("SSL_CERT_FILE");
    if (hadDir_)
        ::setenv("SSL_CERT_DIR", dir_.c_str(), 1);
    else
        ::unsetenv("SSL_CERT_DIR");
}

// -------------------------------------------------------------------- TlsNginx

namespace {

std::string tlsLines(const Certificate& c)
{
    return "ssl_certificate " + c.cert + ";\n    ssl_certificate_key " + c.key +
           ";\n    ssl_protocols TLSv1.2 TLSv1.3;\n    ";
}

std::string serverBlocks(const std::vector<std::pair<std::string, Certificate>>& servers)
{
    std::string text;
    for (const auto& [name, c] : servers)
        text += "  server {\n    listen 127.0.0.1:@PORT@ ssl;\n    server_name " + name + ";\n    root @ROOT@;\n    " +
                tlsLines(c) + "\n  }\n";
    return text;
}

} // namespace

TlsNginx::TlsNginx(const Certificate& first, const std::vector<std::pair<std::string, Certificate>>& servers,
                   const std::string& extra)
    : nginx_(tlsLines(first) + extra, " ssl default_server", serverBlocks(servers))
{
}

std::string TlsNginx::url(const std::string& path, const std::string& host) const
{
    return "https://" + host + ":" + std::to_string(port()) + path;
}

// --------------------------------------------------------------- TlsConnection

std::string TlsConnection::ReadRequest()
{
    std::string request;
    char c;
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (SSL_read(ssl_, &c, 1) != 1)
            break;
        request += c;
    }
    this->request += request;
    return request;
}

bool TlsConnection::Send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// ----------------------------------------------------------- TlsScriptedServer

TlsScriptedServer::TlsScriptedServer(const Certificate& certificate, Handler handler)
    : certificate_(certificate), handler_(std::move(handler))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        throw std::runtime_error("TLS scripted server: cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TlsScriptedServer::~TlsScriptedServer()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::string TlsScriptedServer::url(const std::string& path) const
{
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> TlsScriptedServer::Requests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool TlsScriptedServer::WaitForConnections(std::size_t count) const
{
    std::unique_lock<std::mutex> guard(lock_);
    return done_.wait_for(guard, std::chrono::seconds(20), [&] { return requests_.size() >= count; });
}

void TlsScriptedServer::Run()
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(context, certificate_.cert.c_str());
    SSL_CTX_use_PrivateKey_file(context, certificate_.key.c_str(), SSL_FILETYPE_PEM);
    while (!stopping_.load()) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        // A peer that stops answering ends the connection within seconds.
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            TlsConnection connection(ssl, fd);
            try {
                handler_(connection);
            } catch (...) {
            }
            if (!connection.cut())
                SSL_shutdown(ssl);
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(connection.request);
            done_.notify_all();
        }
        ERR_clear_error();
        SSL_free(ssl);
        ::close(fd);
    }
    SSL_CTX_free(context);
}

} // namespace testsupport
