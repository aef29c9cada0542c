// The CAB back-end: "CAB32.DLL", entries "Cab...".
//
// Extraction runs "-x" through "Cab" with the archive expanded to a full path.
#pragma once
#include "archive/ARCHIVES.h"

TArchiverDll& Cab32Dll();

class TCab32 : public TArchiver {
public:
    TCab32();
    void LoadDLL() override;
    void FreeDLL() override;
    int Extract(HWND owner, const std::string& archive, TOutputBuffer& output, bool useResFile,
                const TFileList& files, const std::string& folder, const TArchiverOptions& options) override;
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;
};
