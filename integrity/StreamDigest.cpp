#include "integrity/StreamDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

struct TStreamDigest::TState {
    EVP_MD_CTX* sha = nullptr;
    EVP_MD_CTX* blake = nullptr;
    std::int64_t length = 0;
    std::string error;

    void Reset(unsigned kinds)
    {
        length = 0;
        error.clear();
        if (kinds & dkSha256) {
            if (!sha)
                sha = EVP_MD_CTX_new();
            EVP_DigestInit_ex(sha, EVP_sha256(), nullptr);
        }
        if (kinds & dkBlake2b512) {
            if (!blake)
                blake = EVP_MD_CTX_new();
            EVP_DigestInit_ex(blake, EVP_blake2b512(), nullptr);
        }
    }
    void Update(const char* data, std::size_t n)
    {
        if (sha)
            EVP_DigestUpdate(sha, data, n);
        if (blake)
            EVP_DigestUpdate(blake, data, n);
        length += static_cast<std::int64_t>(n);
    }
    ~TState()
    {
        EVP_MD_CTX_free(sha);
        EVP_MD_CTX_free(blake);
    }
};

TStreamDigest::TStreamDigest(unsigned kinds) : kinds_(kinds), state_(std::make_unique<TState>())
{
    state_->Reset(kinds_);
    NewBlock();
    thread_ = std::thread([this] { Run(); });
}

TStreamDigest::~TStreamDigest()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TStreamDigest::Push(TItem item, std::size_t bytes)
{
    std::unique_lock<std::mutex> guard(lock_);
    // A full queue waits for the thread (never for long: it only hashes).
    changed_.wait(guard, [&] { return queued_ + bytes <= QueueLimit || queue_.empty(); });
    queued_ += bytes;
    queue_.push_back(std::move(item));
    changed_.notify_all();
}

void TStreamDigest::NewBlock()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!spare_.empty()) {
            gathered_.bytes = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!gathered_.bytes)
        gathered_.bytes.reset(new char[BlockSize]);
    gathered_.size = 0;
}

void TStreamDigest::Restart(const std::string& file, std::int64_t length)
{
    gathered_.size = 0; // the block is used again from its start
    TItem item;
    item.restart = true;
    item.file = file;
    item.length = length;
    length_ = length;
    Push(std::move(item), 0);
}

void TStreamDigest::Flush()
{
    if (gathered_.size == 0)
        return;
    TItem item;
    const std::size_t bytes = gathered_.size;
    item.block = std::move(gathered_);
    gathered_ = TBlock();
    Push(std::move(item), bytes);
    NewBlock();
}

char* TStreamDigest::Room(std::size_t& room)
{
    if (gathered_.size == BlockSize)
        Flush();
    room = BlockSize - gathered_.size;
    return gathered_.bytes.get() + gathered_.size;
}

void TStreamDigest::Feed(const char* data, std::size_t length)
{
    length_ += static_cast<std::int64_t>(length);
    // Received where Room said: already in place.
    if (data == gathered_.bytes.get() + gathered_.size && length <= BlockSize - gathered_.size) {
        gathered_.size += length;
        if (gathered_.size == BlockSize)
            Flush();
        return;
    }
    while (length > 0) {
        const std::size_t take = std::min(length, BlockSize - gathered_.size);
        std::memcpy(gathered_.bytes.get() + gathered_.size, data, take);
        gathered_.size += take;
        data += take;
        length -= take;
        if (gathered_.size == BlockSize)
            Flush();
    }
}

void TStreamDigest::Process(TItem& item)
{
    if (!item.restart) {
        if (state_->error.empty())
            state_->Update(item.block.bytes.get(), item.block.size);
        return;
    }
    state_->Reset(kinds_);
    if (item.length <= 0)
        return;
    const int fd = ::open(item.file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        state_->error = std::strerror(errno);
        return;
    }
    std::vector<char> buffer(1 << 20);
    std::int64_t left = item.length;
    while (left > 0) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<std::size_t>(std::min<std::int64_t>(left, 1 << 20)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            state_->error = n < 0 ? std::strerror(errno) : "the file is shorter than its bytes counted";
            break;
        }
        state_->Update(buffer.data(), static_cast<std::size_t>(n));
        left -= n;
    }
    ::close(fd);
}

void TStreamDigest::Run()
{
    for (;;) {
        TItem item;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty())
                return; // stopping, nothing left
            item = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        Process(item);
        {
            std::lock_guard<std::mutex> guard(lock_);
            queued_ -= item.block.size;
            busy_ = false;
            if (item.block.bytes && spare_.size() < 8)
                spare_.push_back(std::move(item.block.bytes));
        }
        changed_.notify_all();
    }
}

TStreamDigest::TResult TStreamDigest::Finish()
{
    Flush();
    {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return queue_.empty() && !busy_; });
    }
    // The thread is idle and waits for the lock's next change: its state
    // may be read here.
    TResult result;
    result.Length = state_->length;
    if (!state_->error.empty()) {
        result.Error = state_->error;
        return result;
    }
    if (state_->length != length_) {
        result.Error = "bytes lost on the way";
        return result;
    }
    // From copies, so that Finish may be called again (a check that reads
    // the digests twice) and the stream goes on.
    const auto finalOf = [](const EVP_MD_CTX* context, unsigned char* digest) {
        EVP_MD_CTX* copy = EVP_MD_CTX_new();
        unsigned size = 0;
        EVP_MD_CTX_copy_ex(copy, context);
        EVP_DigestFinal_ex(copy, digest, &size);
        EVP_MD_CTX_free(copy);
    };
    if (kinds_ & dkSha256)
        finalOf(state_->sha, result.Sha256.data());
    if (kinds_ & dkBlake2b512)
        finalOf(state_->blake, result.Blake2b512.data());
    result.Ok = true;
    return result;
}
