// TNMUUProcessor: Base64 ("MIME") and uuencode encoding of a stream.
//
// EncodeStream rewinds InputStream, calls OnBeginEncode, and writes one line
// followed by CR LF for each group of up to 45 input bytes: with uuMime
// standard Base64 with "=" padding; with uuCode a length character, the
// uuencode alphabet ("!".."_", with "`" for zero) without padding, and a
// closing line holding the zero character alone. Then it rewinds
// OutputStream and calls OnEndEncode. Decoding is not offered: nothing in
// the program decodes (the decode events are kept for handlers that are
// assigned anyway and are never called).
#pragma once
#include "runtime/Classes.h"

#include <iosfwd>
#include <string>

enum UUMethods : std::uint8_t { uuMime = 0, uuCode = 1 };

class TNMUUProcessor : public TComponent {
public:
    explicit TNMUUProcessor(TComponent* owner = nullptr) : TComponent(owner) {}

    UUMethods Method = uuMime;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    std::istream* InputStream = nullptr;
    std::ostream* OutputStream = nullptr;

    void EncodeStream();

    // Convenience: the encoding of a text with the given method.
    static std::string EncodeText(const std::string& text, UUMethods method);
};
