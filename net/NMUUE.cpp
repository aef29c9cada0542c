#include "net/NMUUE.h"

#include "runtime/Exceptions.h"

#include <istream>
#include <ostream>
#include <sstream>

namespace {

constexpr char mimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char uuChar(unsigned value) { return value == 0 ? '`' : static_cast<char>(value + 32); }

std::string encodeGroup(const unsigned char* data, std::size_t length, UUMethods method)
{
    std::string line;
    if (method == uuCode)
        line += uuChar(static_cast<unsigned>(length));
    for (std::size_t i = 0; i < length; i += 3) {
        const std::size_t n = std::min<std::size_t>(3, length - i);
        const unsigned b0 = data[i];
        const unsigned b1 = n > 1 ? data[i + 1] : 0;
        const unsigned b2 = n > 2 ? data[i + 2] : 0;
        const unsigned sextets[4] = {b0 >> 2, ((b0 & 3) << 4) | (b1 >> 4), ((b1 & 15) << 2) | (b2 >> 6), b2 & 63};
        if (method == uuMime) {
            for (std::size_t k = 0; k < 4; ++k)
                line += k <= n ? mimeAlphabet[sextets[k]] : '=';
        } else {
            for (std::size_t k = 0; k <= n; ++k)
                line += uuChar(sextets[k]);
        }
    }
    return line + "\r\n";
}

} // namespace

void TNMUUProcessor::EncodeStream()
{
    if (!InputStream || !OutputStream)
        throw Exception("No stream to encode");
    InputStream->clear();
    InputStream->seekg(0);
    if (OnBeginEncode)
        OnBeginEncode(this);
    unsigned char group[45];
    for (;;) {
        InputStream->read(reinterpret_cast<char*>(group), sizeof group);
        const auto n = static_cast<std::size_t>(InputStream->gcount());
        if (n == 0)
            break;
        *OutputStream << encodeGroup(group, n, Method);
        if (n < sizeof group)
            break;
    }
    if (Method == uuCode)
        *OutputStream << uuChar(0) << "\r\n";
    OutputStream->flush();
    OutputStream->seekp(0);
    if (OnEndEncode)
        OnEndEncode(this);
}

std::string TNMUUProcessor::EncodeText(const std::string& text, UUMethods method)
{
    std::istringstream in(text);
    std::ostringstream out;
    TNMUUProcessor processor;
    processor.Method = method;
    processor.InputStream = &in;
    processor.OutputStream = &out;
    processor.EncodeStream();
    return out.str();
}
