// The BGA back-end (GZA and BZA archives): "BGA32.DLL", entries "Bga...".
//
// Extraction runs "x" through "Bga"; the file list goes to the response
// file when the caller says so.
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Bga32Dll();

class TBGA32 : public TArchiver {
public:
    TBGA32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;
};
