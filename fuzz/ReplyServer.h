// A loopback HTTP peer for the HTTP target: one listening socket on
// 127.0.0.1 and one thread for the whole campaign, serving the replies of
// the current run.
//
// Begin(replies) starts a run: the n-th connection of the run has its
// request header read and gets replies[n] whole, then an orderly close;
// connections past the last reply are closed without a byte. End() waits
// until every connection of the run is over (also one the client opened
// and never used) and returns what each got. The client under test runs on
// the caller's thread, so End() is called once the client has returned,
// with all its sockets closed.
//
// Unlike the test suite's ScriptedServer it keeps nothing from one run to
// the next and waits on a condition, never by sleeping: a campaign runs
// millions of connections.
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fuzz {

class ReplyServer {
public:
    struct Served {
        std::string request; // the request header as read
        std::string reply;   // what was to be sent
        bool complete;       // every byte of reply went out
    };

    ReplyServer();
    ~ReplyServer();
    ReplyServer(const ReplyServer&) = delete;
    ReplyServer& operator=(const ReplyServer&) = delete;

    int port() const { return port_; }
    void Begin(std::vector<std::string> replies);
    std::vector<Served> End();

private:
    void Run();
    void Serve(int fd);
    void Wake();

    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> replies_;
    std::vector<Served> served_;
    bool ending_ = false;
    bool ended_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace fuzz
