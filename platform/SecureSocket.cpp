#include "platform/SecureSocket.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The BIO's state: the socket and whether a read found its end.
struct Channel {
    SOCKET socket;
    bool* eof;
};

int channelWrite(BIO* bio, const char* data, size_t length, size_t* written)
{
    auto* channel = static_cast<Channel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const int n = winsock::send(channel->socket, data, static_cast<int>(std::min<size_t>(length, 1 << 30)), 0);
    if (n > 0) {
        *written = static_cast<size_t>(n);
        return 1;
    }
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
        BIO_set_retry_write(bio);
    return 0;
}

int channelRead(BIO* bio, char* data, size_t length, size_t* read)
{
    auto* channel = static_cast<Channel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    const int n = winsock::recv(channel->socket, data, static_cast<int>(std::min<size_t>(length, 1 << 30)), 0);
    if (n > 0) {
        *read = static_cast<size_t>(n);
        return 1;
    }
    if (n == 0 || WSAGetLastError() == WSAENOTCONN) {
        *channel->eof = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
        BIO_set_retry_read(bio);
    }
    return 0;
}

long channelControl(BIO* bio, int command, long, void*)
{
    auto* channel = static_cast<Channel*>(BIO_get_data(bio));
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return channel && *channel->eof ? 1 : 0;
    default:
        return 0;
    }
}

int channelDestroy(BIO* bio)
{
    delete static_cast<Channel*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

BIO_METHOD* channelMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "fetchlet socket");
        BIO_meth_set_write_ex(m, channelWrite);
        BIO_meth_set_read_ex(m, channelRead);
        BIO_meth_set_ctrl(m, channelControl);
        BIO_meth_set_destroy(m, channelDestroy);
        return m;
    }();
    return method;
}

// The address inside an IP literal ("127.0.0.1", "::1", "[::1]"), or empty
// for a host name.
std::string ipLiteral(const std::string& host)
{
    std::string text = host;
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    unsigned char address[16];
    if (inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1)
        return text;
    return {};
}

std::string reasonText(unsigned long error)
{
    if (error == 0)
        return {};
    if (const char* reason = ERR_reason_error_string(error))
        return reason;
    char text[256];
    ERR_error_string_n(error, text, sizeof text);
    return text;
}

} // namespace

TSecureSocket::TSecureSocket(SOCKET s, const std::string& host) : socket_(s)
{
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_) {
        error_ = "TLS handshake failed: " + reasonText(ERR_get_error());
        return;
    }
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context_);
    // Debian's libssl looks in /usr/lib/ssl, which only the openssl package
    // links to ca-certificates' folder; a copy of the program that carries
    // its own libssl may run where that package is missing. Debian's curl
    // names the folder itself, and so do we (unless the environment chose).
    if (!std::getenv("SSL_CERT_FILE") && !std::getenv("SSL_CERT_DIR"))
        SSL_CTX_load_verify_locations(context_, nullptr, "/etc/ssl/certs");
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    // Whole socket reads rather than a header and a record at a time.
    SSL_CTX_set_read_ahead(context_, 1);
    SSL_CTX_set_default_read_buffer_len(context_, 64 * 1024);
    ssl_ = SSL_new(context_);
    if (!ssl_) {
        error_ = "TLS handshake failed: " + reasonText(ERR_get_error());
        return;
    }
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    const std::string ip = ipLiteral(host);
    if (!ip.empty()) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), ip.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl_, host.c_str());
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(ssl_, host.c_str());
    }
    BIO* bio = BIO_new(channelMethod());
    BIO_set_data(bio, new Channel{s, &eof_});
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_, bio, bio);
}

TSecureSocket::~TSecureSocket()
{
    if (ssl_)
        SSL_free(ssl_);
    if (context_)
        SSL_CTX_free(context_);
}

TSecureSocket::Step TSecureSocket::Fail(int result, bool handshake)
{
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        return WantIo;
    }
    if (error == SSL_ERROR_ZERO_RETURN) {
        ERR_clear_error();
        return Closed;
    }
    const unsigned long queued = ERR_get_error();
    ERR_clear_error();
    if (handshake) {
        const long verify = SSL_get_verify_result(ssl_);
        if (verify != X509_V_OK)
            error_ = std::string("Certificate verify failed: ") + X509_verify_cert_error_string(verify);
        else if (queued != 0)
            error_ = "TLS handshake failed: " + reasonText(queued);
        else if (eof_)
            error_ = "TLS handshake failed: the server closed the connection";
        else
            error_ = "TLS handshake failed: " + std::string(std::strerror(errno));
    } else if (eof_ && (queued == 0 || ERR_GET_REASON(queued) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
        error_ = "TLS connection ended without close_notify";
    } else {
        error_ = "TLS error: " + (queued != 0 ? reasonText(queued) : std::string("the connection failed"));
    }
    return Failed;
}

TSecureSocket::Step TSecureSocket::Handshake()
{
    if (!ssl_)
        return Failed;
    ERR_clear_error();
    const int result = SSL_connect(ssl_);
    return result == 1 ? Done : Fail(result, true);
}

TSecureSocket::Step TSecureSocket::Read(char* data, int length, bool peek, int* got)
{
    *got = 0;
    if (!ssl_)
        return Failed;
    ERR_clear_error();
    std::size_t n = 0;
    const int result = peek ? SSL_peek_ex(ssl_, data, static_cast<std::size_t>(length), &n)
                            : SSL_read_ex(ssl_, data, static_cast<std::size_t>(length), &n);
    if (result != 1)
        return Fail(result, false);
    // A record holds at most 16 KiB: the records already decrypted or
    // waiting fill the rest of the caller's buffer.
    while (!peek && n < static_cast<std::size_t>(length)) {
        std::size_t more = 0;
        if (SSL_read_ex(ssl_, data + n, static_cast<std::size_t>(length) - n, &more) != 1) {
            ERR_clear_error(); // what the next read finds, it reports then
            break;
        }
        n += more;
    }
    *got = static_cast<int>(n);
    return Done;
}

TSecureSocket::Step TSecureSocket::Write(const char* data, int length, int* sent)
{
    *sent = 0;
    if (!ssl_)
        return Failed;
    ERR_clear_error();
    std::size_t n = 0;
    const int result = SSL_write_ex(ssl_, data, static_cast<std::size_t>(length), &n);
    if (result == 1) {
        *sent = static_cast<int>(n);
        return Done;
    }
    return Fail(result, false);
}

int TSecureSocket::Pending() const { return ssl_ ? SSL_pending(ssl_) : 0; }

void TSecureSocket::Shutdown()
{
    if (!ssl_ || shutdown_ || !SSL_is_init_finished(ssl_))
        return;
    shutdown_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_); // close_notify goes out; the peer's is not awaited
    ERR_clear_error();
}

std::string TSecureSocket::Protocol() const { return ssl_ ? SSL_get_version(ssl_) : std::string(); }
