#include "archive/ARCHIVES.h"

#include "archive/ARJ32.h"
#include "archive/BGA32.h"
#include "archive/CAB32.h"
#include "archive/LHA32.h"
#include "archive/RAR32.h"
#include "archive/TAR32.h"
#include "archive/ZIP32.h"
#include "platform/FileNames.h"
#include "platform/MessageWindow.h"
#include "runtime/SysUtils.h"

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <unistd.h>

const std::string UnsetMarker(1, '\0');

// ---------------------------------------------------------------------------
// TArchiverOptions

namespace {

struct PropertyRef {
    std::int8_t TArchiverOptions::*byte = nullptr;
    std::string TArchiverOptions::*text = nullptr;
};

const std::vector<std::pair<std::string, PropertyRef>>& propertyTable()
{
    using O = TArchiverOptions;
    static const std::vector<std::pair<std::string, PropertyRef>> table = {
        {"a", {&O::a}},       {"c", {&O::c}},       {"e", {&O::e}},       {"f", {&O::f}},
        {"h", {&O::h}},       {"i", {&O::i}},       {"l", {&O::l}},       {"m", {&O::m}},
        {"n", {&O::n}},       {"o", {&O::o}},       {"p", {&O::p}},       {"r", {&O::r}},
        {"s", {&O::s}},       {"t", {&O::t}},       {"u", {&O::u}},       {"w", {nullptr, &O::w}},
        {"x", {&O::x}},       {"y", {&O::y}},       {"z", {&O::z}},       {"jc", {&O::jc}},
        {"jd", {&O::jd}},     {"je", {&O::je}},     {"jf", {&O::jf}},     {"jh", {&O::jh}},
        {"ji", {&O::ji}},     {"jm", {&O::jm}},     {"jn", {&O::jn}},     {"jo", {nullptr, &O::jo}},
        {"job", {nullptr, &O::job}}, {"jp", {&O::jp}}, {"jr", {&O::jr}},   {"jss", {&O::jss}},
        {"jw", {&O::jw}},     {"jx", {}},           {"jyc", {&O::jyc}},   {"jyd", {&O::jyd}},
        {"jyk", {&O::jyk}},   {"jyn", {&O::jyn}},   {"jyo", {&O::jyo}},   {"jz", {nullptr, &O::jz}},
        {"ga", {&O::ga}},     {"gd", {&O::gd}},     {"ge", {&O::ge}},     {"gf", {&O::gf}},
        {"gj", {&O::gj}},     {"gm", {&O::gm}},     {"gn", {&O::gn}},     {"go", {&O::go}},
        {"gp", {&O::gp}},     {"gr", {nullptr, &O::gr}}, {"gs", {&O::gs}}, {"gu", {&O::gu}},
        {"gw", {&O::gw}},     {"UserOptions", {nullptr, &O::UserOptions}},
        {"UserFileList", {nullptr, &O::UserFileList}}, {"PackFilter", {}},
        {"ResFileName", {nullptr, &O::ResFileName}}, {"ResFileUsage", {}},
    };
    return table;
}

const PropertyRef* findProperty(const std::string& name)
{
    for (const auto& [key, ref] : propertyTable())
        if (key == name)
            return &ref;
    return nullptr;
}

const char* const resFileUsageNames[] = {"ruOnPack", "ruOnUnpack", "ruOnRemoveItem", "ruOnUpdate"};

} // namespace

void TArchiverOptions::Reset()
{
    for (const auto& [name, ref] : propertyTable()) {
        if (ref.byte)
            this->*ref.byte = -1;
        else if (ref.text)
            this->*ref.text = UnsetMarker;
    }
    jx.Clear();
    UserOptions.clear();
    UserFileList.clear();
    ResFileName.clear();
    PackFilter = pfComponent;
    ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem};
}

const std::vector<std::string>& TArchiverOptions::PropertyNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const auto& entry : propertyTable())
            list.push_back(entry.first);
        return list;
    }();
    return names;
}

void TArchiverOptions::SetProperty(const std::string& name, const std::string& value)
{
    const PropertyRef* ref = findProperty(name);
    if (!ref)
        throw EArchiver("オプション " + name + " はありません");
    if (ref->byte) {
        const std::int64_t number = StrToInt64(value);
        if (number < -128 || number > 127)
            throw EArchiver("オプション " + name + " の値 " + value + " は範囲外です");
        this->*ref->byte = static_cast<std::int8_t>(number);
    } else if (ref->text) {
        this->*ref->text = value;
    } else if (name == "jx") {
        jx.Add(value);
    } else if (name == "PackFilter") {
        if (value == "pfArchiver")
            PackFilter = pfArchiver;
        else if (value == "pfComponent")
            PackFilter = pfComponent;
        else
            throw EArchiver("オプション " + name + " の値 " + value + " は不正です");
    } else {
        std::string list = value;
        if (!list.empty() && list.front() == '[')
            list.erase(0, 1);
        if (!list.empty() && list.back() == ']')
            list.pop_back();
        TResFileUsage usage;
        size_t start = 0;
        while (start <= list.size()) {
            size_t comma = list.find(',', start);
            if (comma == std::string::npos)
                comma = list.size();
            std::string item = list.substr(start, comma - start);
            while (!item.empty() && item.front() == ' ')
                item.erase(0, 1);
            while (!item.empty() && item.back() == ' ')
                item.pop_back();
            if (!item.empty()) {
                bool known = false;
                for (int k = 0; k < 4; ++k)
                    if (item == resFileUsageNames[k]) {
                        usage.Include(static_cast<TResFileUsageItem>(k));
                        known = true;
                    }
                if (!known)
                    throw EArchiver("オプション " + name + " の値 " + value + " は不正です");
            }
            start = comma + 1;
        }
        ResFileUsage = usage;
    }
}

std::string TArchiverOptions::GetProperty(const std::string& name) const
{
    const PropertyRef* ref = findProperty(name);
    if (!ref)
        throw EArchiver("オプション " + name + " はありません");
    if (ref->byte)
        return IntToStr(this->*ref->byte);
    if (ref->text)
        return this->*ref->text;
    if (name == "jx") {
        std::string text = jx.Text();
        if (text.size() >= 2)
            text.resize(text.size() - 2);
        return text;
    }
    if (name == "PackFilter")
        return PackFilter == pfArchiver ? "pfArchiver" : "pfComponent";
    std::string text = "[";
    for (int k = 0; k < 4; ++k)
        if (ResFileUsage.Contains(static_cast<TResFileUsageItem>(k))) {
            if (text.size() > 1)
                text += ",";
            text += resFileUsageNames[k];
        }
    return text + "]";
}

// ---------------------------------------------------------------------------
// The file list

namespace {

std::string wideToUtf8(const std::wstring& text)
{
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

void TFileListItem::AppendTo(std::vector<std::string>& items) const
{
    struct Visitor {
        std::vector<std::string>& items;
        void operator()(std::monostate) const {}
        void operator()(const char* text) const { items.emplace_back(text ? text : ""); }
        void operator()(const std::string& text) const { items.push_back(text); }
        void operator()(const TStringList* list) const
        {
            if (list)
                for (const auto& line : *list)
                    items.push_back(line);
        }
        void operator()(const char* const* array) const
        {
            if (array)
                for (; *array; ++array)
                    items.emplace_back(*array);
        }
        void operator()(const std::vector<std::string>& values) const
        {
            items.insert(items.end(), values.begin(), values.end());
        }
        void operator()(const std::wstring& text) const { items.push_back(wideToUtf8(text)); }
    };
    std::visit(Visitor{items}, value_);
}

std::vector<std::string> FileListItems(const TFileList& list)
{
    std::vector<std::string> items;
    for (const auto& item : list)
        item.AppendTo(items);
    return items;
}

// ---------------------------------------------------------------------------
// TCmdOpt

void TCmdOpt::Add(const std::string& token)
{
    Text += " ";
    Text += token;
}

void TCmdOpt::AddInt(const std::string& name, int value)
{
    if (value == -1)
        return;
    Add("-" + name + IntToStr(value));
}

void TCmdOpt::AddFlag(const std::string& name, bool condition)
{
    if (condition)
        Add("-" + name);
}

void TCmdOpt::AddStr(const std::string& name, const std::string& value)
{
    if (IsUnset(value))
        return;
    if (name.empty()) {
        Add("\"" + value + "\"");
        return;
    }
    const std::string switchName = name[0] == ' ' ? name.substr(1) : "-" + name;
    if (SeparateValue)
        Add(switchName + " \"" + value + "\"");
    else
        Add("\"" + switchName + value + "\"");
}

void TCmdOpt::AddDir(const std::string& name, const std::string& folder)
{
    if (folder.empty() || IsUnset(folder))
        return;
    AddStr(name, folder.back() == '/' ? folder : folder + "/");
}

void TCmdOpt::AddFiles(const std::string& name, const std::vector<std::string>& list)
{
    for (const auto& item : list)
        AddStr(name, filtered(item));
}

void TCmdOpt::WriteResponseFile(const std::vector<std::string>& list, const std::string& fileName)
{
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file)
        throw EFCreateError::CannotCreate(fileName);
    std::string text;
    for (const auto& item : list) {
        text += '"';
        text += filtered(item);
        text += "\"\r\n";
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        throw EFCreateError::CannotCreate(fileName);
    AddStr("", "@" + fileName);
}

void TCmdOpt::AddArchiveAndFolder(const std::string& archive, const std::string& folder)
{
    AddStr("", archive);
    AddDir("", folder);
}

void TCmdOpt::AddFileList(const TArchiverOptions& options, bool useResFile, const std::vector<std::string>& list)
{
    if (useResFile && !options.ResFileName.empty() && !IsUnset(options.ResFileName))
        WriteResponseFile(list, options.ResFileName);
    else
        AddFiles("", list);
    Add(options.UserFileList);
}

// ---------------------------------------------------------------------------
// TArchiverDll

bool TArchiverDll::Load()
{
    if (!handle_)
        handle_ = LoadLibraryA(fileName_.c_str());
    return handle_ != nullptr;
}

void TArchiverDll::Free()
{
    if (handle_)
        FreeLibrary(handle_);
    handle_ = nullptr;
    entries_.clear();
}

void* TArchiverDll::Find(const std::string& entry)
{
    auto it = entries_.find(entry);
    if (it != entries_.end())
        return it->second;
    void* address = GetProcAddress(handle_, entry.c_str());
    if (address)
        entries_[entry] = address;
    return address;
}

void* TArchiverDll::Entry(const std::string& entry)
{
    if (void* address = Find(entry))
        return address;
    throw MissingEntry(entry);
}

EArchiver TArchiverDll::MissingEntry(const std::string& entry) const
{
    char path[257] = {};
    GetModuleFileNameA(handle_, path, sizeof path);
    return EArchiver(std::string(path) + " に " + entry + " のエントリが見つかりません。");
}

// ---------------------------------------------------------------------------
// TArchiver

void TArchiver::LoadDLL()
{
    throw EArchiver("Abstract method 'TArchiver.LoadDLL' was called");
}

void TArchiver::FreeDLL()
{
    throw EArchiver("Abstract method 'TArchiver.FreeDLL' was called");
}

HARC TArchiver::OpenArchive(HWND, const std::string&, int) { return 0; }
int TArchiver::FindFirst(HARC, const std::string&, void*) { return -1; }
int TArchiver::FindNext(HARC, void*) { return -1; }
int TArchiver::CloseArchive(HARC) { return 0; }

int TArchiver::Pack(HWND, const std::string&, TOutputBuffer&, bool, const TFileList&, const std::string&,
                    const TArchiverOptions&)
{
    throw EArchiver("この形式では書庫ファイルの作成をサポートしておりません。");
}

int TArchiver::RemoveItems(HWND, const std::string&, TOutputBuffer&, bool, const TFileList&, const std::string&,
                           const TArchiverOptions&)
{
    throw EArchiver("この形式の書庫ではファイルの削除をサポートしておりません。");
}

int TArchiver::UpdateItems(HWND, const std::string&, TOutputBuffer&, bool, const TFileList&, const std::string&,
                           const TArchiverOptions&)
{
    throw EArchiver("この形式の書庫では書庫の更新をサポートしておりません。");
}

int TArchiver::MakeSfx(HWND, const std::string&, TOutputBuffer&, const std::string&, const TArchiverOptions&)
{
    throw EArchiver("この形式では自己解凍書庫の作成をサポートしておりません。");
}

int TArchiver::ExtractMem(HWND, const std::string&, char*, int, int&, const std::string&, const TArchiverOptions&)
{
    throw EArchiver("この形式ではメモリへの展開をサポートしておりません。");
}

int TArchiver::CheckArchive(const std::string&, int, int)
{
    throw EArchiver("この形式では書庫チェック機能をサポートしておりません。");
}

bool TArchiver::SetOwnerWindow(HWND window)
{
    OwnerWindow = window;
    return false;
}

bool TArchiver::KillOwnerWindow(HWND)
{
    OwnerWindow = 0;
    return false;
}

int TArchiver::RunCommand(TArchiverDll& dll, const std::string& entry, HWND owner, const std::string& commandLine,
                          TOutputBuffer& output)
{
    CommandLine = commandLine;
    auto command = dll.EntryAs<ARC_COMMAND>(entry);
    return command(owner, CommandLine.c_str(), output.empty() ? nullptr : output.data(),
                   static_cast<int>(output.size()));
}

void TArchiver::LoadOrRaise(TArchiverDll& dll, const char* message)
{
    if (!dll.Load())
        throw EArchiver(message);
}

bool TArchiver::SetOwnerWindowIn(TArchiverDll& dll, const std::string& prefix, HWND window)
{
    OwnerWindow = window;
    auto set = dll.EntryAs<ARC_SETOWNERWINDOWEX>(prefix + "SetOwnerWindowEx");
    return set(window, nullptr) != 0;
}

bool TArchiver::KillOwnerWindowIn(TArchiverDll& dll, const std::string& prefix, HWND window)
{
    // The window is forgotten also when the library cannot be told, so that
    // a later command does not run as if progress were still relayed.
    struct Forget {
        HWND& owner;
        ~Forget() { owner = 0; }
    } forget{OwnerWindow};
    auto kill = dll.EntryAs<ARC_KILLOWNERWINDOWEX>(prefix + "KillOwnerWindowEx");
    return kill(window) != 0;
}

HARC TArchiver::OpenArchiveIn(TArchiverDll& dll, const std::string& prefix, HWND owner, const std::string& path,
                              int mode)
{
    auto open = dll.EntryAs<ARC_OPENARCHIVE>(prefix + "OpenArchive");
    return open(owner, ExpandFileName(path).c_str(), mode);
}

int TArchiver::FindFirstIn(TArchiverDll& dll, const std::string& prefix, HARC archive, const std::string& wildName,
                           void* info)
{
    auto find = dll.EntryAs<ARC_FINDFIRST>(prefix + "FindFirst");
    return find(archive, wildName.c_str(), static_cast<INDIVIDUALINFO*>(info));
}

int TArchiver::FindNextIn(TArchiverDll& dll, const std::string& prefix, HARC archive, void* info)
{
    auto find = dll.EntryAs<ARC_FINDNEXT>(prefix + "FindNext");
    return find(archive, static_cast<INDIVIDUALINFO*>(info));
}

int TArchiver::CloseArchiveIn(TArchiverDll& dll, const std::string& prefix, HARC archive)
{
    auto close = dll.EntryAs<ARC_CLOSEARCHIVE>(prefix + "CloseArchive");
    return close(archive);
}

int TArchiver::CheckArchiveIn(TArchiverDll& dll, const std::string& prefix, const std::string& path, int mode)
{
    auto check = dll.EntryAs<ARC_CHECKARCHIVE>(prefix + "CheckArchive");
    return check(path.c_str(), mode);
}

std::string TArchiver::FindStub(const std::string& name)
{
    char buffer[512];
    const unsigned long n = SearchPathA(nullptr, name.c_str(), nullptr, sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::string TArchiver::SfxOutputName(const std::string& archive, const std::string& folder)
{
    const std::string output = ChangeFileExt(archive, ".EXE");
    if (folder.empty())
        return output;
    return (folder.back() == '/' ? folder : folder + "/") + ExtractFileName(output);
}

void TArchiver::WriteSelfExtracting(const std::string& stub, const std::string& archive, const std::string& output)
{
    const std::string temp = output + ".part";
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (out < 0)
        throw EFCreateError::CannotCreate(output);
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (const std::string* part : {&stub, &archive}) {
        const int in = ::open(part->c_str(), O_RDONLY | O_CLOEXEC);
        ok = in >= 0;
        while (ok) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            for (ssize_t done = 0; ok && done < n;) {
                const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
                if (w < 0 && errno == EINTR)
                    continue;
                ok = w > 0;
                done += w > 0 ? w : 0;
            }
        }
        if (in >= 0)
            ::close(in);
        if (!ok)
            break;
    }
    if (::close(out) != 0)
        ok = false;
    if (!ok || std::rename(temp.c_str(), output.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw EFCreateError::CannotCreate(output);
    }
}

int TArchiver::ExtractMemWith(void* entry, HWND owner, const std::string& commandLine, char* buffer, int size,
                              int& written)
{
    CommandLine = commandLine;
    written = 0;
    auto extract = reinterpret_cast<ARC_EXTRACTMEM>(entry);
    return extract(owner, CommandLine.c_str(), buffer, size, nullptr, nullptr, &written);
}

// ---------------------------------------------------------------------------
// Detection

TArchiverType ArchiverTypeByName(const std::string& fileName)
{
    static const std::pair<const char*, TArchiverType> extensions[] = {
        {".z", atTgz},   {".gz", atTgz},  {".tgz", atTgz}, {".taz", atTgz}, {".tar", atTar},
        {".bz2", atBZ2}, {".gza", atBga}, {".bza", atBga}, {".rar", atRar}, {".arj", atArj},
        {".zip", atZip}, {".cab", atCab}, {".lzh", atLha},
    };
    const std::string ext = ExtractFileExt(fileName);
    TArchiverType result = atNone;
    for (const auto& [text, type] : extensions)
        if (!ext.empty() && AnsiCompareText(ext, text) == 0)
            result = type;
    if (AnsiCompareText(ext, ".exe") == 0)
        result = atAutoDetect;
    return result;
}

TArchiverType DetectArchiverType(const std::string& fileName)
{
    const TArchiverType byName = ArchiverTypeByName(fileName);
    return byName == atAutoDetect ? DetectArchiverTypeByContent(fileName) : byName;
}

namespace {

constexpr int detectMode = 0x800002;

// OpenArchive of one library on the path; true when it gives a handle.
bool opens(TArchiverDll& dll, const std::string& prefix, const std::string& path)
{
    if (!dll.Load())
        return false;
    auto open = reinterpret_cast<ARC_OPENARCHIVE>(dll.Find(prefix + "OpenArchive"));
    if (!open)
        return false;
    const HARC handle = open(0, path.c_str(), detectMode);
    if (handle == 0)
        return false;
    if (auto close = reinterpret_cast<ARC_CLOSEARCHIVE>(dll.Find(prefix + "CloseArchive")))
        close(handle);
    return true;
}

template <typename F>
bool negativeOnFailure(F&& test)
{
    try {
        return test();
    } catch (...) {
        return false;
    }
}

} // namespace

TArchiverType DetectArchiverTypeByContent(const std::string& fileName)
{
    TArchiverType result = atNone;
    std::string path;
    try {
        path = ExpandFileName(fileName);
    } catch (...) {
        return atNone;
    }
    negativeOnFailure([&] {
        TArchiverDll& tar = Tar32Dll();
        if (!tar.Load())
            return false;
        auto type = reinterpret_cast<ARC_TARGETARCHIVETYPE>(tar.Find("TarGetArchiveType"));
        if (!type)
            return false;
        switch (type(fileName.c_str())) {
        case 1: result = atTar; break;
        case 2: case 3: case 4: case 5: result = atTgz; break;
        case 6: case 7: result = atBZ2; break;
        default: result = atNone; break;
        }
        return true;
    });
    if (negativeOnFailure([&] { return opens(Unrar32Dll(), "Unrar", path); }))
        result = atRar;
    if (negativeOnFailure([&] { return opens(Unarj32Dll(), "Unarj", path); }))
        result = atArj;
    if (negativeOnFailure([&] {
            if (!FileExists(path))
                return false;
            LoadZipLibraries();
            auto open = reinterpret_cast<ARC_OPENARCHIVE>(FindZipEntry("UnZipOpenArchive"));
            if (!open)
                return false;
            const HARC handle = open(0, path.c_str(), detectMode);
            if (handle == 0)
                return false;
            if (auto close = reinterpret_cast<ARC_CLOSEARCHIVE>(FindZipEntry("UnZipCloseArchive")))
                close(handle);
            return true;
        }))
        result = atZip;
    if (negativeOnFailure([&] { return FileExists(path) && opens(Bga32Dll(), "Bga", path); }))
        result = atBga;
    if (negativeOnFailure([&] { return opens(Cab32Dll(), "Cab", path); }))
        result = atCab;
    if (negativeOnFailure([&] {
            TArchiverDll& lha = Unlha32Dll();
            if (!lha.Load())
                return false;
            auto check = reinterpret_cast<ARC_CHECKARCHIVE>(lha.Find("UnlhaCheckArchive"));
            return check && check(path.c_str(), 16) != 0 && opens(lha, "Unlha", path);
        }))
        result = atLha;
    return result;
}

std::unique_ptr<TArchiver> MakeArchiver(TArchiverType type)
{
    switch (type) {
    case atLha: return std::make_unique<TLha32>();
    case atZip: return std::make_unique<TZip32>();
    case atCab: return std::make_unique<TCab32>();
    case atArj: return std::make_unique<TArj32>();
    case atTar: return std::make_unique<TTar32>();
    case atTgz: return std::make_unique<TTgz32>();
    case atBZ2: return std::make_unique<TBZ232>();
    case atRar: return std::make_unique<TRar32>();
    case atBga: return std::make_unique<TBGA32>();
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------
// TArchiveFile

TArchiveFile::TArchiveFile(TComponent* owner) : TComponent(owner), fileName_(UnsetMarker) {}

TArchiveFile::~TArchiveFile()
{
    SetState(csDestroying, true);
    window_.reset();
    archiver_.reset();
}

void TArchiveFile::SetFileName(const std::string& fileName)
{
    SetArchiverType(DetectArchiverType(fileName));
    fileName_ = fileName;
}

void TArchiveFile::SetOutputSize(int size)
{
    output_.assign(static_cast<size_t>(size > 0 ? size : 0), '\0');
}

void TArchiveFile::SetArchiverType(TArchiverType type)
{
    if (HasState(csDesigning)) {
        archiverType_ = type;
        return;
    }
    switch (type) {
    case atLha: case atZip: case atCab: case atArj: case atTar:
    case atTgz: case atBZ2: case atRar: case atBga: {
        std::unique_ptr<TArchiver> archiver = MakeArchiver(type);
        archiver_ = std::move(archiver);
        archiverType_ = type;
        break;
    }
    case atNone:
        break;
    case atAutoDetect:
        archiverType_ = type;
        break;
    default:
        if (HasState(csReading) || HasState(csLoading)) {
            archiverType_ = type;
            break;
        }
        throw EArchiver("書庫の形式を特定できませんでした。");
    }
}

namespace {

UINT arcExtractMessage()
{
    static const UINT number = RegisterWindowMessageA(ARC_WM_ARCEXTRACT);
    return number;
}

} // namespace

LRESULT TArchiveFile::windowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg != arcExtractMessage())
        return 0;
    bool abort = false;
    if (OnProgress)
        OnProgress(this, static_cast<int>(wParam), reinterpret_cast<LPEXTRACTINGINFOEX>(lParam), abort);
    return abort ? 1 : 0;
}

void TArchiveFile::hookProgress()
{
    try {
        arcExtractMessage();
        if (!window_)
            window_ = std::make_unique<TMessageWindow>(
                [this](UINT msg, WPARAM wParam, LPARAM lParam) { return windowProc(msg, wParam, lParam); },
                "TArchiveFileWindow");
        archiver_->SetOwnerWindow(window_->Handle());
    } catch (...) {
    }
}

void TArchiveFile::unhookProgress()
{
    try {
        if (archiver_ && window_)
            archiver_->KillOwnerWindow(window_->Handle());
    } catch (...) {
    }
}

int TArchiveFile::Extract(HWND owner, const TArchiverOptions* options, const std::string& folder,
                          const TFileList& files)
{
    if (!archiver_)
        throw EArchiver("書庫の形式を判別できません。");
    struct Finish {
        TArchiveFile& self;
        ~Finish()
        {
            if (self.archiver_)
                self.commandLine_ = self.archiver_->CommandLine;
            if (self.OnProgress)
                self.unhookProgress();
        }
    } finish{*this};
    if (OnProgress)
        hookProgress();
    const TArchiverOptions& opts = options ? *options : options_;
    const bool useResFile = opts.ResFileUsage.Contains(ruOnUnpack);
    return archiver_->Extract(owner, fileName_, output_, useResFile, files, folder, opts);
}
