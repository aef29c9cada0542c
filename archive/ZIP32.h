// The ZIP back-end: "UNZIP32.DLL" (reading), "ZIP32J.DLL" (creation and
// listing) and "LMZIP32.DLL" (both), each loaded while its handle is 0.
//
// Extraction runs "-x" through "UnZip" (from "UNZIP32.DLL", else
// "LMZIP32.DLL"). Creation runs the ZIP32J builder without a command word
// through "Zip" when "ZIP32J.DLL" is loaded; with only "LMZIP32.DLL" it
// deletes the old archive and runs "-ru" (no name filter, no folder).
// Deletion ("-d", no folder) and update ("-f") run the ZIP32J builder
// through "Zip". ExtractMem runs the extraction builder without a command
// word through "UnZipExtractMem". File-list items of the builders pass the
// ZIP name filter: "\" becomes "/" and "[" becomes "[[]". Every operation
// uses the response-file flag its caller hands in. Entries are looked up
// library by library in a fixed order per entry; in "LMZIP32.DLL" a name
// beginning "UnZip" is spelled "Unzip".
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Unzip32Dll();
TArchiverDll& Zip32jDll();
TArchiverDll& Lmzip32Dll();
// Loads every ZIP library whose handle is still 0; true when one is loaded.
bool LoadZipLibraries();
// The entry from the first loaded library that has it, nullptr when none.
void* FindZipEntry(const std::string& entry);
// The same, raising EArchiver "<entry> のエントリが見つかりません。".
void* ZipEntry(const std::string& entry);
// The ZIP name filter.
std::string ZipNameFilter(const std::string& name);

class TZip32 : public TArchiver {
public:
    TZip32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int Pack(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile, const TFileList& files,
             const std::string& folder, const TArchiverOptions& options) override;
    int RemoveItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int UpdateItems(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                    const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    int MakeSfx(HWND owner, const std::string& archive, TOutputBuffer& output, const std::string& folder,
                const TArchiverOptions& options) override;
    int ExtractMem(HWND owner, const std::string& archive, char* buffer, int size, int& written,
                   const std::string& member, const TArchiverOptions& options) override;
    int CheckArchive(const std::string& path, int mode1, int mode2) override;
    HARC OpenArchive(HWND owner, const std::string& path, int mode) override;
    int FindFirst(HARC archive, const std::string& wildName, void* info) override;
    int FindNext(HARC archive, void* info) override;
    int CloseArchive(HARC archive) override;
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;
    // LoadDLL, then "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。"
    // when neither of the creating libraries is loaded.
    void ReloadDLL() override;

    // The text of the ZIP32J builder (switches, UserOptions, archive,
    // folder, file list), and of the extraction builder.
    static std::string Zip32jText(const std::string& archive, bool useResFile, const TFileList& files,
                                  const std::string& folder, const TArchiverOptions& options);
    std::string ExtractText(const std::string& archive, bool useResFile, const TFileList& files,
                            const std::string& folder, const TArchiverOptions& options) const;

private:
    int RunZip(const std::string& entry, HWND owner, const std::string& commandLine, TOutputBuffer& output);
};
