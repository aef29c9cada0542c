// The -lh5- compressor of the LHA writer.
//
// No library on Debian writes LHA (liblhasa and libarchive only read it), so
// the libraries carry their own encoder, written from the format as its
// decoders read it:
//
// - LZ77 over an 8 KiB window: a match copies 3 to 256 bytes from 1 to 8192
//   bytes back. Matches are found through hash chains over three-byte
//   prefixes, with one step of lazy evaluation (a match is given up for a
//   literal when the next position starts a longer one).
// - Static Huffman blocks, as LHa for UNIX writes them: each block holds at
//   most kBlockSymbols literals and matches and starts with its own tables
//   (the literal/length code of 510 symbols sent through a 19-symbol
//   code-length code, then the 14-symbol position code); codes are at most
//   16 bits, canonical, sent most significant bit first; a table with a
//   single symbol is sent in the format's short form; no block is empty.
//
// Streaming: data comes in pieces through Write and the compressed bytes go
// to the sink as they are made (in pieces of up to 64 KiB). Memory is fixed:
// a 256 KiB look-back buffer, the hash tables and one block of symbols, about
// 550 KiB in all, whatever the size of the data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace arc {

class LhaEncoder {
public:
    // Receives compressed bytes; false stops the encoder (Write and Finish
    // then return false).
    using Sink = std::function<bool(const uint8_t* data, size_t size)>;

    // Literals and matches per block; a block is coded when it is full and
    // at Finish. Smaller blocks follow the data more closely; below this
    // their tables cost more than they save.
    static constexpr size_t kBlockSymbols = 8192;
    static constexpr size_t kWindowSize = 8192;
    static constexpr size_t kMaxMatch = 256;

    explicit LhaEncoder(Sink sink);
    LhaEncoder(const LhaEncoder&) = delete;
    LhaEncoder& operator=(const LhaEncoder&) = delete;

    bool Write(const void* data, size_t size);
    // Codes what is left and sends the last byte. Nothing is sent for no
    // data at all. The encoder is done afterwards.
    bool Finish();
    // Starts another stream, to the same sink, with the buffers kept (an
    // archive's members one after another).
    void Reset();

    uint64_t BytesIn() const { return bytesIn_; }
    uint64_t BytesOut() const { return bytesOut_; }

    // Huffman code lengths of at most maxBits (a complete code) for the
    // symbols of nonzero frequency; count is at most 510 and 2^maxBits at
    // least count. Returns how many there are; with fewer than two every
    // length is 0 and single names the one symbol (0 if none), which the
    // format sends in its short form.
    static unsigned CodeLengths(const uint32_t* freq, unsigned count, unsigned maxBits, uint8_t* lengths,
                                unsigned& single);

private:
    void Parse(bool final);
    void Slide();
    uint32_t Insert(uint32_t pos);
    uint32_t LongestMatch(uint32_t pos, uint32_t candidate, uint32_t best, uint32_t& distance) const;
    void Literal(uint8_t byte);
    void Match(uint32_t length, uint32_t distance);
    void CodeBlock();
    void WriteLengths(const uint8_t* lengths, unsigned count, unsigned countBits, bool skipAfterThree);
    void Put(uint32_t value, unsigned bits);
    void FlushBits();
    void Drain();

    Sink sink_;
    bool failed_ = false;
    bool finished_ = false;
    uint64_t bytesIn_ = 0;
    uint64_t bytesOut_ = 0;

    // Look-back buffer: [0, end_) holds data, pos_ is the next byte to code.
    std::vector<uint8_t> window_;
    uint32_t pos_ = 0;
    uint32_t end_ = 0;
    std::vector<uint32_t> head_; // last position of each hash, kNil if none
    std::vector<uint32_t> prev_; // the position before, with the same hash
    // Lazy evaluation: the match found at pos_ - 1, not yet coded.
    bool pending_ = false;
    uint32_t pendingLength_ = 0;
    uint32_t pendingDistance_ = 0;

    // The block being gathered: codes 0-255 literals, 256-509 lengths 3-256.
    std::vector<uint16_t> codes_;
    std::vector<uint16_t> offsets_;
    size_t symbols_ = 0;
    uint32_t codeFreq_[510] = {};
    uint32_t posFreq_[14] = {};

    uint64_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;
    std::vector<uint8_t> out_;
    size_t outUsed_ = 0;
};

} // namespace arc
