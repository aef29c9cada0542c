#include "net/HttpReply.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isTokenChar(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c))
        return true;
    for (const char t : std::string_view("!#$%&'*+-.^_`|~"))
        if (c == t)
            return true;
    return false;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The elements of a comma-separated list, trimmed, empty ones left out.
std::vector<std::string_view> listElements(std::string_view value)
{
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t comma = value.find(',');
        const std::string_view element = trimmed(value.substr(0, comma));
        if (!element.empty())
            out.push_back(element);
        if (comma == std::string_view::npos)
            return out;
        value.remove_prefix(comma + 1);
    }
}

} // namespace

THttpReply::TFeed THttpReply::Fail(const std::string& error)
{
    error_ = error;
    return Failed;
}

bool THttpReply::ReadStatusLine(std::string_view text)
{
    // "HTTP/1.x", blanks, three digits, then the end or a blank and the reason.
    if (text.size() < 8 || text.substr(0, 7) != "HTTP/1." || !isDigit(text[7]))
        return false;
    std::size_t at = 8;
    if (at >= text.size() || !isBlank(text[at]))
        return false;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    if (at + 3 > text.size() || !isDigit(text[at]) || !isDigit(text[at + 1]) || !isDigit(text[at + 2]) ||
        text[at] == '0')
        return false;
    if (at + 3 < text.size() && !isBlank(text[at + 3]))
        return false;
    code_ = (text[at] - '0') * 100 + (text[at + 1] - '0') * 10 + (text[at + 2] - '0');
    return true;
}

THttpReply::TFeed THttpReply::Feed(std::string_view line)
{
    std::string_view text = line;
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.find('\0') != std::string_view::npos)
        return Fail("Malformed reply (NUL in the header)");
    if (text.find('\r') != std::string_view::npos)
        return Fail("Malformed reply (CR without LF in the header)");

    if (!haveStatus_) {
        if (!ReadStatusLine(text))
            return Fail("Malformed reply (status line)");
        if (code_ == 101)
            return Fail("Unexpected 101 reply (switching protocols)");
        haveStatus_ = true;
        lastLineIgnored_ = false;
        statusLine_ = line;
        fields_.clear();
        return More;
    }
    if (text.empty()) {
        if (code_ >= 200)
            return Complete;
        haveStatus_ = false; // an interim reply: the final one follows
        return Interim;
    }
    if (isBlank(text.front())) {
        if (fields_.empty() && !lastLineIgnored_)
            return Fail("Malformed reply (continuation line without a field)");
        if (!lastLineIgnored_) {
            std::string& value = fields_.back().Value;
            value = std::string(trimmed(value + " " + std::string(trimmed(text))));
        }
        return More;
    }
    const std::size_t colon = text.find(':');
    const std::string_view name =
        colon == std::string_view::npos ? std::string_view() : trimmed(text.substr(0, colon));
    bool token = !name.empty();
    for (char c : name)
        token = token && isTokenChar(c);
    lastLineIgnored_ = !token;
    if (token)
        fields_.push_back({std::string(name), std::string(trimmed(text.substr(colon + 1)))});
    return More;
}

std::vector<std::string> THttpReply::Values(std::string_view name) const
{
    std::vector<std::string> out;
    for (const TField& field : fields_)
        if (sameName(field.Name, name))
            out.push_back(field.Value);
    return out;
}

std::string THttpReply::Last(std::string_view name) const
{
    for (auto field = fields_.rbegin(); field != fields_.rend(); ++field)
        if (sameName(field->Name, name))
            return field->Value;
    return {};
}

THttpReply::TBodyFraming THttpReply::BodyFraming() const
{
    TBodyFraming framing;
    bool coded = false;
    for (const std::string& value : Values("transfer-encoding")) {
        for (std::string_view coding : listElements(value)) {
            if (sameName(coding, "identity"))
                continue;
            if (!sameName(coding, "chunked") || coded) {
                framing.Error = "Unsupported transfer coding: " + std::string(coding);
                return framing;
            }
            coded = true;
        }
    }
    if (coded) {
        framing.Kind = Chunked;
        return framing;
    }
    for (const std::string& value : Values("content-length")) {
        const std::vector<std::string_view> elements = listElements(value);
        if (elements.empty()) {
            framing.Error = "Invalid Content-Length";
            return framing;
        }
        for (std::string_view element : elements) {
            std::int64_t length = 0;
            bool number = element.size() <= 18;
            for (char c : element) {
                number = number && isDigit(c);
                length = number ? length * 10 + (c - '0') : 0;
            }
            if (!number || (framing.Kind == ByLength && framing.Length != length)) {
                framing.Error = "Invalid Content-Length";
                return framing;
            }
            framing.Kind = ByLength;
            framing.Length = length;
        }
    }
    return framing;
}
