#include "runtime/StringList.h"

#include "runtime/Exceptions.h"
#include "runtime/SysUtils.h"

#include <algorithm>

const std::string& TStringList::Strings(int index) const
{
    if (index < 0 || index >= Count())
        throw EStringListError::IndexOutOfBounds(index);
    return lines_[static_cast<size_t>(index)];
}

std::string& TStringList::Strings(int index)
{
    if (index < 0 || index >= Count())
        throw EStringListError::IndexOutOfBounds(index);
    return lines_[static_cast<size_t>(index)];
}

int TStringList::Add(std::string line)
{
    lines_.push_back(std::move(line));
    return Count() - 1;
}

void TStringList::Insert(int index, std::string line)
{
    if (index < 0 || index > Count())
        throw EStringListError::IndexOutOfBounds(index);
    lines_.insert(lines_.begin() + index, std::move(line));
}

void TStringList::Delete(int index)
{
    if (index < 0 || index >= Count())
        throw EStringListError::IndexOutOfBounds(index);
    lines_.erase(lines_.begin() + index);
}

void TStringList::AddStrings(const TStringList& other)
{
    lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
}

int TStringList::IndexOf(std::string_view line) const
{
    for (int i = 0; i < Count(); i++)
        if (AnsiCompareText(lines_[static_cast<size_t>(i)], line) == 0)
            return i;
    return -1;
}

void TStringList::SetText(std::string_view text)
{
    lines_.clear();
    size_t start = 0;
    const size_t n = text.size();
    while (start < n) {
        size_t i = start;
        while (i < n && text[i] != '\r' && text[i] != '\n')
            i++;
        lines_.emplace_back(text.substr(start, i - start));
        if (i < n && text[i] == '\r') {
            i++;
            if (i < n && text[i] == '\n')
                i++;
        } else if (i < n && text[i] == '\n') {
            i++;
        }
        start = i;
    }
}

std::string TStringList::Text() const
{
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void TStringList::LoadFromFile(const std::string& path)
{
    SetText(ReadWholeFile(path));
}

void TStringList::SaveToFile(const std::string& path) const
{
    WriteWholeFile(path, Text());
}

void TStringList::Sort()
{
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
}
