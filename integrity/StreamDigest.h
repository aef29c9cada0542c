// TStreamDigest: SHA-256 and BLAKE2b-512 of a file as its bytes arrive,
// computed on a thread of its own so that hashing runs beside the transfer
// instead of after it (both cost about the same CPU per byte) and the file
// is never read a second time.
//
// The caller feeds every byte it writes. Bytes are gathered in blocks of
// BlockSize and the thread is woken once a block; a caller may receive
// straight into the block (Room), so that the bytes are never copied for
// the digest. At most QueueLimit bytes wait for the thread; a full queue
// makes Feed wait for it, which never takes long: hashing is faster than
// any network. Restart begins anew, first hashing the first `length` bytes
// of a file that an earlier attempt wrote (read by the thread), then what
// Feed gives. Finish waits for the queue to drain and gives the digests; a
// read error of the earlier bytes, or a file shorter than said, makes it
// fail.
//
// Only the owner's thread calls the public functions; they never throw
// while the thread runs (an allocation failure ends the process as
// everywhere else).
#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TStreamDigest {
public:
    enum TKinds : unsigned { dkSha256 = 1, dkBlake2b512 = 2 };
    static constexpr std::size_t QueueLimit = 32 * 1024 * 1024;
    static constexpr std::size_t BlockSize = 1024 * 1024;

    struct TResult {
        bool Ok = false;
        std::string Error; // why not, when not Ok
        std::int64_t Length = 0;
        std::array<unsigned char, 32> Sha256{};
        std::array<unsigned char, 64> Blake2b512{};
    };

    explicit TStreamDigest(unsigned kinds);
    ~TStreamDigest();
    TStreamDigest(const TStreamDigest&) = delete;
    TStreamDigest& operator=(const TStreamDigest&) = delete;

    unsigned Kinds() const { return kinds_; }
    // Anew: the first `length` bytes of `file` (none when length is 0),
    // then what Feed gives.
    void Restart(const std::string& file, std::int64_t length);
    // Where the next bytes may be received: the free part of the current
    // block (room: its size, never 0). Bytes received there and then fed
    // from there are not copied.
    char* Room(std::size_t& room);
    void Feed(const char* data, std::size_t length);
    // Bytes given since the last Restart, its file's bytes included.
    std::int64_t Length() const { return length_; }
    // Waits for the thread; the digests of everything since the last
    // Restart.
    TResult Finish();

private:
    struct TBlock {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
    };
    struct TItem {
        bool restart = false;
        std::string file;
        std::int64_t length = 0;
        TBlock block;
    };
    void Run();
    void Process(TItem& item);
    void Push(TItem item, std::size_t bytes);
    // Hands the gathered bytes to the thread and takes a fresh block.
    void Flush();
    void NewBlock();

    const unsigned kinds_;
    std::int64_t length_ = 0;
    TBlock gathered_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<TItem> queue_;
    std::vector<std::unique_ptr<char[]>> spare_;
    std::size_t queued_ = 0;
    bool busy_ = false;
    bool stop_ = false;

    // The thread's own state.
    struct TState;
    std::unique_ptr<TState> state_;
    std::thread thread_;
};
