#include "fuzz/ReplyServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzz {

namespace {

// A client under test that stops reading must not hold the server up for
// ever; libFuzzer's own time-out catches a client that hangs.
constexpr int IoLimitMs = 10000;

bool waitFor(int fd, short events)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, IoLimitMs);
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

ReplyServer::ReplyServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0 ||
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("reply server: cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ReplyServer::~ReplyServer()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    Wake();
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void ReplyServer::Wake()
{
    const char c = 0;
    (void)!::write(wake_[1], &c, 1);
}

void ReplyServer::Begin(std::vector<std::string> replies)
{
    std::lock_guard<std::mutex> guard(lock_);
    replies_ = std::move(replies);
    served_.clear();
    ending_ = false;
    ended_ = false;
}

std::vector<ReplyServer::Served> ReplyServer::End()
{
    std::unique_lock<std::mutex> guard(lock_);
    ending_ = true;
    guard.unlock();
    Wake();
    guard.lock();
    changed_.wait(guard, [this] { return ended_; });
    return std::move(served_);
}

void ReplyServer::Run()
{
    for (;;) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(p, 2, -1);
        char drain[64];
        while (::read(wake_[0], drain, sizeof drain) > 0) {
        }
        // Every waiting connection is served before a run may end, so none
        // is left over for the next run.
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            Serve(fd);
            ::close(fd);
        }
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            return;
        if (ending_ && !ended_) {
            ended_ = true;
            changed_.notify_all();
        }
    }
}

void ReplyServer::Serve(int fd)
{
    Served served{{}, {}, false};
    bool haveReply = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (served_.size() < replies_.size()) {
            served.reply = replies_[served_.size()];
            haveReply = true;
        }
    }
    if (haveReply) {
        char buffer[4096];
        while (served.request.find("\r\n\r\n") == std::string::npos && waitFor(fd, POLLIN)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            served.request.append(buffer, static_cast<std::size_t>(n));
        }
        std::size_t sent = 0;
        while (sent < served.reply.size() && waitFor(fd, POLLOUT)) {
            const ssize_t n = ::send(fd, served.reply.data() + sent, served.reply.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        served.complete = sent == served.reply.size();
        // An orderly end: the client reads up to the close, then closes too.
        ::shutdown(fd, SHUT_WR);
        while (waitFor(fd, POLLIN) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    served_.push_back(std::move(served));
}

} // namespace fuzz
