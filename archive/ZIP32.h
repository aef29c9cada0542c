// The ZIP back-end: "UNZIP32.DLL" (reading), "ZIP32J.DLL" (creation and
// listing) and "LMZIP32.DLL" (both), each loaded while its handle is 0.
//
// Extraction runs "-x" through "UnZip" (from "UNZIP32.DLL", else
// "LMZIP32.DLL"). File-list items pass the ZIP name filter: "\" becomes "/"
// and "[" becomes "[[]". Entries are looked up library by library in a fixed
// order per entry; in "LMZIP32.DLL" a name beginning "UnZip" is spelled
// "Unzip".
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
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;
};
