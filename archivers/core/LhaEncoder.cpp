// The -lh5- encoder: hash-chain LZ77 with lazy matching over an 8 KiB
// window, coded in static Huffman blocks with their own tables (what was
// chosen and why: LhaEncoder.h). Our own, because no Debian library writes
// LHA.
#include "core/LhaEncoder.h"

#include <algorithm>
#include <cstring>

namespace arc {
namespace {

constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kBufferSize = 1u << 18;
constexpr uint32_t kPadding = LhaEncoder::kMaxMatch + 16;
// A position is coded once this much follows it (a match and the lazy look
// one byte further), or at the end of the data.
constexpr uint32_t kMinLookahead = LhaEncoder::kMaxMatch + 4;
constexpr unsigned kHashBits = 15;
constexpr uint32_t kNil = 0xFFFFFFFF;
// The chain links are kept for twice the window, so a link inside the
// window is never one that a newer position has overwritten; the buffer
// slides by multiples of this, which keeps the links where they are.
constexpr uint32_t kPrevSize = 2 * LhaEncoder::kWindowSize;
constexpr uint32_t kPrevMask = kPrevSize - 1;

// Search effort (measured on a mixed 100 MB folder: more buys little): chain
// links followed, a match long enough to stop searching, a pending match
// long enough to take without a lazy look, and a pending match after which
// the lazy look follows a quarter of the chain.
constexpr unsigned kMaxChain = 128;
constexpr uint32_t kNiceLength = 256;
constexpr uint32_t kMaxLazy = 64;
constexpr uint32_t kGoodLength = 32;

constexpr unsigned kCodes = 510;   // literals and lengths
constexpr unsigned kPositions = 14; // position codes: bit lengths 0-13 of the offset
constexpr unsigned kLengthCodes = 19;
constexpr unsigned kMaxBits = 16;
constexpr size_t kOutSize = 1u << 16;

// The hot helpers are inlined also in unoptimised (test) builds.
#define LHA_INLINE [[gnu::always_inline]] inline

LHA_INLINE uint32_t Hash(const uint8_t* p)
{
    uint32_t v = p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

LHA_INLINE unsigned PositionCode(uint32_t offset) { return offset == 0 ? 0 : 32 - static_cast<unsigned>(__builtin_clz(offset)); }

LHA_INLINE uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t max)
{
    uint32_t n = 0;
    while (n + 8 <= max) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + (static_cast<uint32_t>(__builtin_ctzll(x ^ y)) >> 3);
        n += 8;
    }
    while (n < max && a[n] == b[n])
        ++n;
    return n;
}

} // namespace

unsigned LhaEncoder::CodeLengths(const uint32_t* freq, unsigned count, unsigned maxBits, uint8_t* lengths,
                                 unsigned& single)
{
    std::fill(lengths, lengths + count, uint8_t{0});
    struct Leaf {
        uint32_t freq;
        uint16_t symbol;
    };
    Leaf leaves[kCodes];
    unsigned m = 0;
    for (unsigned s = 0; s < count; ++s)
        if (freq[s])
            leaves[m++] = {freq[s], static_cast<uint16_t>(s)};
    single = m == 1 ? leaves[0].symbol : 0;
    if (m < 2)
        return m;
    std::sort(leaves, leaves + m,
              [](const Leaf& a, const Leaf& b) { return a.freq != b.freq ? a.freq < b.freq : a.symbol < b.symbol; });
    uint32_t weight[2 * kCodes];
    uint16_t parent[2 * kCodes];
    uint16_t depth[2 * kCodes];
    for (;;) {
        for (unsigned i = 0; i < m; ++i)
            weight[i] = leaves[i].freq;
        // Two queues: the sorted leaves, and the inner nodes, which are made
        // in order of weight.
        unsigned leaf = 0, inner = m;
        for (unsigned node = m; node < 2 * m - 1; ++node) {
            unsigned pick[2];
            for (unsigned& p : pick)
                p = (leaf < m && (inner >= node || weight[leaf] <= weight[inner])) ? leaf++ : inner++;
            weight[node] = weight[pick[0]] + weight[pick[1]];
            parent[pick[0]] = parent[pick[1]] = static_cast<uint16_t>(node);
        }
        depth[2 * m - 2] = 0;
        unsigned deepest = 0;
        for (unsigned node = 2 * m - 2; node-- > 0;) {
            depth[node] = static_cast<uint16_t>(depth[parent[node]] + 1);
            deepest = std::max<unsigned>(deepest, depth[node]);
        }
        bool flat = leaves[m - 1].freq == 1;
        if (deepest <= maxBits || flat)
            break;
        // Too deep: flatten the frequencies and build again (rare; it takes
        // a block as skewed as the Fibonacci numbers).
        for (unsigned i = 0; i < m; ++i)
            leaves[i].freq = (leaves[i].freq >> 1) | 1;
    }
    for (unsigned i = 0; i < m; ++i)
        lengths[leaves[i].symbol] = static_cast<uint8_t>(depth[i]);
    return m;
}

namespace {

// Canonical codes: shorter codes first, symbols in order within a length.
void AssignCodes(const uint8_t* lengths, unsigned count, uint16_t* codes)
{
    unsigned perLength[kMaxBits + 1] = {};
    for (unsigned s = 0; s < count; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;
    uint32_t next[kMaxBits + 2] = {};
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < count; ++s)
        codes[s] = lengths[s] ? static_cast<uint16_t>(next[lengths[s]]++) : 0;
}

} // namespace

LhaEncoder::LhaEncoder(Sink sink)
    : sink_(std::move(sink)),
      window_(kBufferSize + kPadding),
      head_(size_t{1} << kHashBits, kNil),
      prev_(kPrevSize, kNil),
      codes_(kBlockSymbols),
      offsets_(kBlockSymbols),
      out_(kOutSize + 8)
{
}

bool LhaEncoder::Write(const void* data, size_t size)
{
    if (failed_ || finished_)
        return false;
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        if (end_ == kBufferSize)
            Slide();
        size_t n = std::min<size_t>(size, kBufferSize - end_);
        std::memcpy(window_.data() + end_, p, n);
        end_ += static_cast<uint32_t>(n);
        bytesIn_ += n;
        p += n;
        size -= n;
        Parse(false);
        if (failed_)
            return false;
    }
    return true;
}

bool LhaEncoder::Finish()
{
    if (failed_ || finished_)
        return false;
    Parse(true);
    if (symbols_ > 0)
        CodeBlock();
    FlushBits();
    Drain();
    finished_ = true;
    return !failed_;
}

void LhaEncoder::Reset()
{
    // Chains are only entered through head_: old links are never reached.
    std::fill(head_.begin(), head_.end(), kNil);
    failed_ = finished_ = pending_ = false;
    bytesIn_ = bytesOut_ = 0;
    pos_ = end_ = 0;
    symbols_ = 0;
    std::fill(std::begin(codeFreq_), std::end(codeFreq_), 0u);
    std::fill(std::begin(posFreq_), std::end(posFreq_), 0u);
    bitBuffer_ = 0;
    bitCount_ = 0;
    outUsed_ = 0;
}

void LhaEncoder::Slide()
{
    // Keep the window behind the pending match, which starts at pos_ - 1.
    uint32_t keepFrom = pos_ - 1 - static_cast<uint32_t>(kWindowSize);
    uint32_t delta = keepFrom / kPrevSize * kPrevSize;
    std::memmove(window_.data(), window_.data() + delta, end_ - delta);
    end_ -= delta;
    pos_ -= delta;
    auto rebase = [delta](uint32_t& v) { v = (v == kNil || v < delta) ? kNil : v - delta; };
    std::for_each(head_.begin(), head_.end(), rebase);
    std::for_each(prev_.begin(), prev_.end(), rebase);
}

LHA_INLINE uint32_t LhaEncoder::Insert(uint32_t pos)
{
    uint32_t* head = head_.data() + Hash(window_.data() + pos);
    uint32_t before = *head;
    prev_.data()[pos & kPrevMask] = before;
    *head = pos;
    return before;
}

uint32_t LhaEncoder::LongestMatch(uint32_t pos, uint32_t candidate, uint32_t best, uint32_t& distance) const
{
    uint32_t maxLength = std::min<uint32_t>(end_ - pos, static_cast<uint32_t>(kMaxMatch));
    if (best >= maxLength)
        return 0;
    const uint8_t* window = window_.data();
    const uint32_t* prev = prev_.data();
    const uint8_t* here = window + pos;
    uint32_t limit = pos > kWindowSize ? pos - static_cast<uint32_t>(kWindowSize) : 0;
    unsigned chain = best >= kGoodLength ? kMaxChain / 4 : kMaxChain;
    uint32_t found = 0;
    while (candidate != kNil && candidate >= limit && chain-- > 0) {
        const uint8_t* there = window + candidate;
        if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
            uint32_t length = MatchLength(there, here, maxLength);
            if (length > best) {
                best = found = length;
                distance = pos - candidate;
                if (length >= kNiceLength || length >= maxLength)
                    break;
            }
        }
        candidate = prev[candidate & kPrevMask];
    }
    return found;
}

LHA_INLINE void LhaEncoder::Literal(uint8_t byte)
{
    codes_.data()[symbols_] = byte;
    ++codeFreq_[byte];
    if (++symbols_ == kBlockSymbols)
        CodeBlock();
}

LHA_INLINE void LhaEncoder::Put(uint32_t value, unsigned bits)
{
    bitBuffer_ = (bitBuffer_ << bits) | value;
    bitCount_ += bits;
    if (bitCount_ >= 32) {
        bitCount_ -= 32;
        auto word = static_cast<uint32_t>(bitBuffer_ >> bitCount_);
        uint8_t* o = out_.data() + outUsed_;
        o[0] = static_cast<uint8_t>(word >> 24);
        o[1] = static_cast<uint8_t>(word >> 16);
        o[2] = static_cast<uint8_t>(word >> 8);
        o[3] = static_cast<uint8_t>(word);
        outUsed_ += 4;
        if (outUsed_ >= kOutSize)
            Drain();
    }
}

void LhaEncoder::Parse(bool final)
{
    while (!failed_) {
        uint32_t avail = end_ - pos_;
        if (avail == 0 || (!final && avail < kMinLookahead))
            break;
        uint32_t length = 0, distance = 0;
        if (avail >= kMinMatch) {
            uint32_t candidate = Insert(pos_);
            if (candidate != kNil && pos_ - candidate <= kWindowSize && (!pending_ || pendingLength_ < kMaxLazy)) {
                length = LongestMatch(pos_, candidate, pending_ ? pendingLength_ : kMinMatch - 1, distance);
            }
        }
        if (pending_) {
            if (length > pendingLength_) {
                // The match here is longer: the byte before goes as a literal.
                Literal(window_.data()[pos_ - 1]);
                pendingLength_ = length;
                pendingDistance_ = distance;
                ++pos_;
            } else {
                Match(pendingLength_, pendingDistance_);
                uint32_t next = pos_ - 1 + pendingLength_;
                for (uint32_t p = pos_ + 1; p < next; ++p)
                    if (end_ - p >= kMinMatch)
                        Insert(p);
                pos_ = next;
                pending_ = false;
            }
        } else if (length >= kMinMatch) {
            pending_ = true;
            pendingLength_ = length;
            pendingDistance_ = distance;
            ++pos_;
        } else {
            Literal(window_.data()[pos_]);
            ++pos_;
        }
    }
}

void LhaEncoder::Match(uint32_t length, uint32_t distance)
{
    auto code = static_cast<uint16_t>(256 + length - kMinMatch);
    auto offset = static_cast<uint16_t>(distance - 1);
    codes_[symbols_] = code;
    offsets_[symbols_] = offset;
    ++codeFreq_[code];
    ++posFreq_[PositionCode(offset)];
    if (++symbols_ == kBlockSymbols)
        CodeBlock();
}

void LhaEncoder::WriteLengths(const uint8_t* lengths, unsigned count, unsigned countBits, bool skipAfterThree)
{
    unsigned n = count;
    while (n > 0 && lengths[n - 1] == 0)
        --n;
    Put(n, countBits);
    for (unsigned i = 0; i < n;) {
        unsigned len = lengths[i++];
        if (len <= 6)
            Put(len, 3);
        else // 7 and up: "111", a one for each step past 7, then a zero
            Put((1u << (len - 3)) - 2, len - 3);
        if (skipAfterThree && i == 3) {
            // The code-length code tells in two bits how many of the
            // next three lengths are zero.
            unsigned zeros = 0;
            while (i < std::min(6u, n) && lengths[i] == 0) {
                ++i;
                ++zeros;
            }
            Put(zeros, 2);
        }
    }
}

void LhaEncoder::CodeBlock()
{
    uint8_t codeLen[kCodes];
    uint16_t codeBits[kCodes];
    unsigned codeSingle;
    unsigned codesUsed = CodeLengths(codeFreq_, kCodes, kMaxBits, codeLen, codeSingle);
    AssignCodes(codeLen, kCodes, codeBits);

    uint8_t posLen[kPositions];
    uint16_t posBits[kPositions];
    unsigned posSingle;
    unsigned positionsUsed = CodeLengths(posFreq_, kPositions, kMaxBits, posLen, posSingle);
    AssignCodes(posLen, kPositions, posBits);

    Put(static_cast<uint32_t>(symbols_), 16);
    if (codesUsed < 2) {
        Put(0, 5);
        Put(0, 5);
        Put(0, 9);
        Put(codeSingle, 9);
    } else {
        // The literal/length code lengths as code-length symbols: 0 one
        // unused code, 1 three to eighteen (4 more bits), 2 twenty or more
        // (9 more bits), n + 2 a length of n.
        unsigned n = kCodes;
        while (n > 0 && codeLen[n - 1] == 0)
            --n;
        uint8_t token[kCodes * 2];
        uint16_t extra[kCodes * 2];
        unsigned tokens = 0;
        uint32_t tokenFreq[kLengthCodes] = {};
        auto add = [&](unsigned t, unsigned e) {
            token[tokens] = static_cast<uint8_t>(t);
            extra[tokens++] = static_cast<uint16_t>(e);
            ++tokenFreq[t];
        };
        for (unsigned i = 0; i < n;) {
            if (codeLen[i] != 0) {
                add(codeLen[i++] + 2u, 0);
                continue;
            }
            unsigned run = 0;
            while (i < n && codeLen[i] == 0) {
                ++i;
                ++run;
            }
            if (run <= 2) {
                for (unsigned k = 0; k < run; ++k)
                    add(0, 0);
            } else if (run <= 18) {
                add(1, run - 3);
            } else if (run == 19) {
                add(0, 0);
                add(1, 15);
            } else {
                add(2, run - 20);
            }
        }
        uint8_t tokenLen[kLengthCodes];
        uint16_t tokenBits[kLengthCodes];
        unsigned tokenSingle;
        if (CodeLengths(tokenFreq, kLengthCodes, kMaxBits, tokenLen, tokenSingle) < 2) {
            Put(0, 5);
            Put(tokenSingle, 5);
        } else {
            WriteLengths(tokenLen, kLengthCodes, 5, true);
        }
        AssignCodes(tokenLen, kLengthCodes, tokenBits);
        Put(n, 9);
        for (unsigned k = 0; k < tokens; ++k) {
            Put(tokenBits[token[k]], tokenLen[token[k]]);
            if (token[k] == 1)
                Put(extra[k], 4);
            else if (token[k] == 2)
                Put(extra[k], 9);
        }
    }
    if (positionsUsed < 2) {
        Put(0, 4);
        Put(posSingle, 4);
    } else {
        WriteLengths(posLen, kPositions, 4, false);
    }

    const uint16_t* codes = codes_.data();
    const uint16_t* offsets = offsets_.data();
    for (size_t k = 0; k < symbols_; ++k) {
        unsigned c = codes[k];
        Put(codeBits[c], codeLen[c]);
        if (c >= 256) {
            uint32_t offset = offsets[k];
            unsigned p = PositionCode(offset);
            Put(posBits[p], posLen[p]);
            if (p > 1)
                Put(offset & ((1u << (p - 1)) - 1), p - 1);
        }
    }
    symbols_ = 0;
    std::fill(std::begin(codeFreq_), std::end(codeFreq_), 0u);
    std::fill(std::begin(posFreq_), std::end(posFreq_), 0u);
}

void LhaEncoder::FlushBits()
{
    while (bitCount_ >= 8) {
        bitCount_ -= 8;
        out_[outUsed_++] = static_cast<uint8_t>(bitBuffer_ >> bitCount_);
    }
    if (bitCount_ > 0)
        out_[outUsed_++] = static_cast<uint8_t>(bitBuffer_ << (8 - bitCount_));
    bitCount_ = 0;
    bitBuffer_ = 0;
}

void LhaEncoder::Drain()
{
    if (outUsed_ == 0 || failed_) {
        outUsed_ = 0;
        return;
    }
    if (!sink_(out_.data(), outUsed_))
        failed_ = true;
    else
        bytesOut_ += outUsed_;
    outUsed_ = 0;
}

} // namespace arc
