#include "net/NMURL.h"

#include <exception>

std::string TNMURL::Encode()
{
    try {
        static const char digits[] = "0123456789ABCDEF";
        std::string result;
        result.reserve(InputString.size() * 3);
        for (unsigned char c : InputString) {
            if (c == ' ')
                result += '+';
            else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                result += static_cast<char>(c);
            else {
                result += '%';
                result += digits[c >> 4];
                result += digits[c & 15];
            }
        }
        return result;
    } catch (const std::exception& e) {
        if (OnError)
            OnError(this, "Error during encode", e.what());
        return InputString;
    }
}
