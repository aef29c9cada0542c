// The archive component: TArchiveFile turns "extract this downloaded file into
// that folder" into one call of an outside archiver library ("UNLHA32.DLL",
// "UNZIP32.DLL", ...), loaded by file name when it is first needed.
//
//   TArchiveFile        the component: FileName, OutputSize, Options,
//                       ArchiverType, OnProgress, Extract
//   TArchiverOptions    the option set; every property is named after the
//                       option letter the libraries know
//   TCmdOpt             the command-line builder
//   TArchiver           the back-end base (one descendant per archive kind,
//                       each in its own module: LHA32, ZIP32, CAB32, ARJ32,
//                       TAR32, RAR32, BGA32)
//   EArchiver           every failure of this component
//   TArchiverDll        one outside library: its handle and resolved entries,
//                       process-wide, loaded on first need, never unloaded
//
// How the main window calls it:
//
//   TArchiveFile ArchiveFile1(this);
//   ArchiveFile1.SetFileName(path);        // finds the kind, loads the
//                                          // library; may raise EArchiver
//   ArchiveFile1.Options().x = 1;
//   int r = ArchiveFile1.Extract(ownerHwnd, nullptr, destFolder, {nullptr});
//
// The file list of Extract is a braced list of items (TFileListItem): a C
// string, a std::string, a TStringList (each line an item), a std::vector
// of strings (the elements of a variant array), a wide string, or a
// null-terminated array of C strings; a null pointer ({nullptr}) adds
// nothing, so {nullptr} extracts the whole archive. A C string that is a
// null pointer of type const char* is the empty text, as in the class
// library.
//
// Paths use "/": AddDir appends "/" to a folder that does not end in one.
// Texts are UTF-8; the libraries receive UTF-8 paths and command lines.
//
// Choices of this port:
//  - The unset marker is UnsetMarker, a one-character std::string holding
//    code 0.
//  - The response file holds the UTF-8 items, each quoted, each line ending
//    in CR LF.
//  - The owner window is a hidden TMessageWindow handle (or 0). After a
//    "Tar" command the original brings a nonzero owner window to the
//    foreground; a hidden window has no foreground, so nothing is done.
//  - TArchiverOptions::SetProperty / GetProperty reach the published
//    properties by name (for tools); an unknown name or a value out of
//    range raises EArchiver.
//  - KillOwnerWindow forgets the window even when the library cannot be
//    told, so that later commands do not run as if progress were relayed.
//  - A response file that cannot be written completely raises the same
//    file-creation error as one that cannot be created.
//  - Library loading needs no lock; like the original, the process-wide
//    handles and entries are meant for the one thread that extracts.
#pragma once
#include "archivers/ArchiverApi.h"
#include "platform/Library.h"
#include "platform/WinTypes.h"
#include "runtime/Classes.h"
#include "runtime/Exceptions.h"
#include "runtime/StringList.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class TMessageWindow;

// The subsystem's exception.
class EArchiver : public Exception {
public:
    using Exception::Exception;
};

// A text option that has not been set: one character of code 0.
extern const std::string UnsetMarker;
inline bool IsUnset(const std::string& text) { return text == UnsetMarker; }

enum TArchiverType {
    atLha,
    atZip,
    atCab,
    atArj,
    atTar,
    atTgz,
    atBZ2,
    atRar,
    atBga,
    atYz1,
    atNone,
    atAutoDetect
};

enum TPackFilter { pfArchiver, pfComponent };

enum TResFileUsageItem { ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate };

// set of TResFileUsageItem, bit 0 to bit 3 of one byte.
class TResFileUsage {
public:
    constexpr TResFileUsage() = default;
    constexpr TResFileUsage(std::initializer_list<TResFileUsageItem> items)
    {
        for (auto item : items)
            bits_ = static_cast<std::uint8_t>(bits_ | (1u << item));
    }
    constexpr bool Contains(TResFileUsageItem item) const { return (bits_ >> item) & 1u; }
    constexpr void Include(TResFileUsageItem item) { bits_ = static_cast<std::uint8_t>(bits_ | (1u << item)); }
    constexpr void Exclude(TResFileUsageItem item) { bits_ = static_cast<std::uint8_t>(bits_ & ~(1u << item)); }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TResFileUsage&) const = default;

private:
    std::uint8_t bits_ = 0;
};

// The option set. A signed-byte option of -1 is not set; a text option equal
// to UnsetMarker is not set.
class TArchiverOptions : public TObject {
public:
    TArchiverOptions() { Reset(); }
    TArchiverOptions(const TArchiverOptions&) = default;
    TArchiverOptions& operator=(const TArchiverOptions&) = default;

    // Every property back to its default (also empties jx).
    void Reset();
    // Copies every property, jx by content.
    void Assign(const TArchiverOptions& source) { *this = source; }

    // Published properties by name ("a", "jx", "UserOptions",
    // "ResFileUsage", ...). Values are text: signed bytes in decimal, jx as
    // its lines joined by CR LF (setting it adds one line per call),
    // PackFilter as "pfArchiver"/"pfComponent", ResFileUsage as a list
    // like "[ruOnPack,ruOnUnpack]". SetProperty raises EArchiver for an
    // unknown name or a value out of range.
    void SetProperty(const std::string& name, const std::string& value);
    std::string GetProperty(const std::string& name) const;
    static const std::vector<std::string>& PropertyNames();

    std::int8_t a, c, e, f, h, i, l, m, n, o, p, r, s, t, u;
    std::string w;
    std::int8_t x, y, z, jc, jd, je, jf, jh, ji, jm, jn;
    std::string jo, job;
    std::int8_t jp, jr, jss, jw;
    TStringList jx;
    std::int8_t jyc, jyd, jyk, jyn, jyo;
    std::string jz;
    std::int8_t ga, gd, ge, gf, gj, gm, gn, go, gp;
    std::string gr;
    std::int8_t gs, gu, gw;
    std::string UserOptions;
    std::string UserFileList;
    TPackFilter PackFilter;
    std::string ResFileName;
    TResFileUsage ResFileUsage;
};

// One item of Extract's open file list.
class TFileListItem {
public:
    TFileListItem(std::nullptr_t) : value_(std::monostate{}) {}
    TFileListItem(const char* text) : value_(text) {}
    TFileListItem(char* text) : value_(static_cast<const char*>(text)) {}
    TFileListItem(std::string text) : value_(std::move(text)) {}
    TFileListItem(const TStringList& list) : value_(&list) {}
    TFileListItem(const TStringList* list) : value_(list) {}
    TFileListItem(const char* const* array) : value_(array) {}
    TFileListItem(char** array) : value_(static_cast<const char* const*>(array)) {}
    TFileListItem(std::vector<std::string> values) : value_(std::move(values)) {}
    TFileListItem(std::wstring text) : value_(std::move(text)) {}
    TFileListItem(const wchar_t* text) : value_(std::wstring(text ? text : L"")) {}

    // Appends the item's texts in order.
    void AppendTo(std::vector<std::string>& items) const;

private:
    std::variant<std::monostate, const char*, std::string, const TStringList*, const char* const*,
                 std::vector<std::string>, std::wstring>
        value_;
};
using TFileList = std::vector<TFileListItem>;
// The texts of a file list, in order.
std::vector<std::string> FileListItems(const TFileList& list);

// The command-line builder.
class TCmdOpt {
public:
    std::string Text;
    bool SeparateValue = false;
    std::function<std::string(const std::string&)> NameFilter;

    void Add(const std::string& token);
    void AddInt(const std::string& name, int value);
    void AddFlag(const std::string& name, bool condition);
    void AddStr(const std::string& name, const std::string& value);
    void AddDir(const std::string& name, const std::string& folder);
    void AddFiles(const std::string& name, const std::vector<std::string>& list);
    // Raises EFCreateError when the file cannot be created.
    void WriteResponseFile(const std::vector<std::string>& list, const std::string& fileName);
    void AddArchiveAndFolder(const std::string& archive, const std::string& folder);
    void AddFileList(const TArchiverOptions& options, bool useResFile, const std::vector<std::string>& list);

private:
    std::string filtered(const std::string& item) const { return NameFilter ? NameFilter(item) : item; }
};

// One outside library, shared by every back-end object and component of the
// process. Load() tries LoadLibraryA again while the handle is 0.
class TArchiverDll {
public:
    explicit TArchiverDll(std::string fileName) : fileName_(std::move(fileName)) {}
    const std::string& FileName() const { return fileName_; }
    HMODULE Handle() const { return handle_; }
    bool Loaded() const { return handle_ != nullptr; }
    bool Load();
    // Unloads the library and forgets its entries.
    void Free();
    // The entry's address, resolved once; nullptr when missing.
    void* Find(const std::string& entry);
    // The entry's address or EArchiver "<module path> に <entry> のエントリが見つかりません。".
    void* Entry(const std::string& entry);
    template <typename F>
    F EntryAs(const std::string& entry)
    {
        return reinterpret_cast<F>(Entry(entry));
    }
    // "<module path> に <entry> のエントリが見つかりません。"
    EArchiver MissingEntry(const std::string& entry) const;

private:
    std::string fileName_;
    HMODULE handle_ = nullptr;
    std::map<std::string, void*> entries_;
};

using TOutputBuffer = std::vector<char>;

// The back-end base. Every descendant's constructor loads its library
// (LoadDLL) and raises EArchiver when it is missing.
class TArchiver : public TObject {
public:
    HWND OwnerWindow = 0;
    std::string CommandLine;

    ~TArchiver() override = default;

    virtual void LoadDLL();
    virtual void FreeDLL();
    virtual HARC OpenArchive(HWND owner, const std::string& path, int mode);
    virtual int FindFirst(HARC archive, const std::string& wildName, void* info);
    virtual int FindNext(HARC archive, void* info);
    virtual int CloseArchive(HARC archive);
    virtual int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                        const TFileList& files, const std::string& folder, const TArchiverOptions& options) = 0;
    virtual int Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                     const TFileList& files, const std::string& folder, const TArchiverOptions& options);
    virtual int RemoveItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                            const TFileList& files, const std::string& folder, const TArchiverOptions& options);
    virtual int UpdateItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                            const TFileList& files, const std::string& folder, const TArchiverOptions& options);
    virtual int MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                        const TArchiverOptions& options);
    virtual int ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                           const std::string& member, const TArchiverOptions& options);
    virtual int CheckArchive(const std::string& path, int mode1, int mode2);
    virtual bool SetOwnerWindow(HWND window);
    virtual bool KillOwnerWindow(HWND window);
    virtual void ReloadDLL() { LoadDLL(); }

protected:
    TArchiver() = default;
    // Calls a library command entry with the output buffer (null when empty)
    // and keeps the command line.
    int RunCommand(TArchiverDll& dll, const std::string& entry, HWND owner, const std::string& commandLine,
                   TOutputBuffer& output);
    // Loads the library while its handle is 0; raises EArchiver(message)
    // when that fails.
    static void LoadOrRaise(TArchiverDll& dll, const char* message);
    // Stores the window and calls "<prefix>SetOwnerWindowEx" (window, 0).
    bool SetOwnerWindowIn(TArchiverDll& dll, const std::string& prefix, HWND window);
    // Calls "<prefix>KillOwnerWindowEx" (window); OwnerWindow becomes 0.
    bool KillOwnerWindowIn(TArchiverDll& dll, const std::string& prefix, HWND window);
    // The listing and check entries of a library ("<prefix>OpenArchive",
    // ...); the path of OpenArchive is expanded to a full path first.
    HARC OpenArchiveIn(TArchiverDll& dll, const std::string& prefix, HWND owner, const std::string& path, int mode);
    int FindFirstIn(TArchiverDll& dll, const std::string& prefix, HARC archive, const std::string& wildName,
                    void* info);
    int FindNextIn(TArchiverDll& dll, const std::string& prefix, HARC archive, void* info);
    int CloseArchiveIn(TArchiverDll& dll, const std::string& prefix, HARC archive);
    int CheckArchiveIn(TArchiverDll& dll, const std::string& prefix, const std::string& path, int mode);
    // Self-extracting files made by concatenation: the stub found on the
    // standard search path (SearchPathA, a buffer of 512 characters), "" when
    // none; the output name (the archive's extension replaced by ".EXE", in
    // folder when one is given); the file itself, stub then archive, made
    // executable (0755 less the umask), replacing an existing one only once
    // it is complete; raises the file-creation error when it cannot be made.
    static std::string FindStub(const std::string& name);
    static std::string SfxOutputName(const std::string& archive, const std::string& folder);
    static void WriteSelfExtracting(const std::string& stub, const std::string& archive, const std::string& output);
    // Calls an ExtractMem entry (owner, command line, buffer, size, 0, 0,
    // count written) and keeps the command line.
    int ExtractMemWith(void* entry, HWND owner, const std::string& commandLine, char* buffer, int size,
                       int& written);
};

// The listing and check operations of a back-end whose library has them
// under its own prefix: OpenArchive, FindFirst, FindNext, CloseArchive and
// CheckArchive (with the sum of its two integers), each loading the library
// first. ARCHIVER_LISTING_DECL goes into the class, ARCHIVER_LISTING_DEF
// into its module.
#define ARCHIVER_LISTING_DECL                                                                                   \
    HARC OpenArchive(HWND owner, const std::string& path, int mode) override;                                  \
    int FindFirst(HARC archive, const std::string& wildName, void* info) override;                             \
    int FindNext(HARC archive, void* info) override;                                                           \
    int CloseArchive(HARC archive) override;                                                                   \
    int CheckArchive(const std::string& path, int mode1, int mode2) override;
#define ARCHIVER_LISTING_DEF(Class, dll, prefix)                                                                \
    HARC Class::OpenArchive(HWND owner, const std::string& path, int mode)                                     \
    {                                                                                                          \
        Class::LoadDLL();                                                                                      \
        return OpenArchiveIn(dll, prefix, owner, path, mode);                                                  \
    }                                                                                                          \
    int Class::FindFirst(HARC archive, const std::string& wildName, void* info)                                \
    {                                                                                                          \
        Class::LoadDLL();                                                                                      \
        return FindFirstIn(dll, prefix, archive, wildName, info);                                              \
    }                                                                                                          \
    int Class::FindNext(HARC archive, void* info)                                                              \
    {                                                                                                          \
        Class::LoadDLL();                                                                                      \
        return FindNextIn(dll, prefix, archive, info);                                                         \
    }                                                                                                          \
    int Class::CloseArchive(HARC archive)                                                                      \
    {                                                                                                          \
        Class::LoadDLL();                                                                                      \
        return CloseArchiveIn(dll, prefix, archive);                                                           \
    }                                                                                                          \
    int Class::CheckArchive(const std::string& path, int mode1, int mode2)                                     \
    {                                                                                                          \
        Class::LoadDLL();                                                                                      \
        return CheckArchiveIn(dll, prefix, path, mode1 + mode2);                                               \
    }

using TArchiverProgressEvent =
    std::function<void(TObject* Sender, int State, LPEXTRACTINGINFOEX lpEis, bool& Abort)>;

// Kind of an archive by its file name (by content for ".exe").
TArchiverType DetectArchiverType(const std::string& fileName);
// The name's part of that: the kind its extension gives, atAutoDetect for
// ".exe" (a self-extracting archive is told by its content), atNone for a
// name of no archive kind. Reads no file and loads no library.
TArchiverType ArchiverTypeByName(const std::string& fileName);
// The seven tests by content; never raises.
TArchiverType DetectArchiverTypeByContent(const std::string& fileName);
// A new back-end of the kind (loads its library; may raise), nullptr for a
// kind without back-end.
std::unique_ptr<TArchiver> MakeArchiver(TArchiverType type);

class TArchiveFile : public TComponent {
public:
    explicit TArchiveFile(TComponent* owner = nullptr);
    ~TArchiveFile() override;
    TArchiveFile(const TArchiveFile&) = delete;
    TArchiveFile& operator=(const TArchiveFile&) = delete;

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& fileName);
    int OutputSize() const { return static_cast<int>(output_.size()); }
    void SetOutputSize(int size);
    TArchiverOptions& Options() { return options_; }
    const TArchiverOptions& Options() const { return options_; }
    void SetOptions(const TArchiverOptions& options) { options_.Assign(options); }
    TArchiverType ArchiverType() const { return archiverType_; }
    void SetArchiverType(TArchiverType type);
    TArchiverProgressEvent OnProgress;

    // The command line of the last operation.
    const std::string& CommandLine() const { return commandLine_; }
    // The current back-end, nullptr when none.
    TArchiver* Archiver() const { return archiver_.get(); }
    // The output buffer handed to the library (empty when OutputSize is 0).
    const TOutputBuffer& Output() const { return output_; }

    int Extract(HWND owner, const TArchiverOptions* options, const std::string& folder, const TFileList& files);

private:
    void hookProgress();
    void unhookProgress();
    LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    std::string fileName_;
    TOutputBuffer output_;
    TArchiverOptions options_;
    TArchiverType archiverType_ = atAutoDetect;
    std::unique_ptr<TArchiver> archiver_;
    std::string commandLine_;
    std::unique_ptr<TMessageWindow> window_;
};
