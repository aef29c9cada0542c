// TStringList: an ordered list of text lines.
//
// Loading accepts lines ending in CR, LF or CR LF (a final line end adds no
// empty line); saving writes every line followed by CR LF. Lines are byte
// strings: the list neither converts nor checks their encoding.
// An index outside the list raises EStringListError with the index.
#pragma once
#include <string>
#include <string_view>
#include <vector>

class TStringList {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }

    const std::string& Strings(int index) const;
    std::string& Strings(int index);
    const std::string& operator[](int index) const { return Strings(index); }
    std::string& operator[](int index) { return Strings(index); }

    int Add(std::string line);
    void Insert(int index, std::string line);
    void Delete(int index);
    void Clear() { lines_.clear(); }
    void AddStrings(const TStringList& other);
    // Index of the first line equal to `line` ignoring case, or -1.
    int IndexOf(std::string_view line) const;

    // Splits text into lines by the loading rule and replaces the content.
    void SetText(std::string_view text);
    // Every line followed by CR LF.
    std::string Text() const;

    // Raise EFOpenError / EFCreateError with the path.
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path) const;

    // Sorts by the case-insensitive locale comparison (AnsiCompareText).
    void Sort();
    // A sorted list keeps no order by itself; the flag tells searches that
    // they may bisect (set it only after Sort).
    bool Sorted = false;

    const std::vector<std::string>& Lines() const { return lines_; }
    std::vector<std::string>::const_iterator begin() const { return lines_.begin(); }
    std::vector<std::string>::const_iterator end() const { return lines_.end(); }

private:
    std::vector<std::string> lines_;
};
