// The RAR back-end: "UNRAR32.DLL", entries "Unrar...".
//
// Extraction runs "-x" (or "-e" when the option x is 0, which drops the
// stored folders) through "Unrar".
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Unrar32Dll();

class TRar32 : public TArchiver {
public:
    TRar32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;
};
