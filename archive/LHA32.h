// The LHA back-end: "UNLHA32.DLL", entries "Unlha...".
//
// Every command runs its word with the LHA switches (every option under its
// own letter) through the "Unlha" entry: "x" extraction, "u" creation, "f"
// update, "d" deletion (no folder); ExtractMem has no command word, the
// member as its one name and no folder. Each takes its response-file rule
// from the option set (ruOnUnpack, ruOnPack, ruOnUpdate, ruOnRemoveItem).
// TArj32 reuses the switches with its own library.
#pragma once
#include "archive/ARCHIVES.h"

// The process-wide "UNLHA32.DLL".
TArchiverDll& Unlha32Dll();

class TLha32 : public TArchiver {
public:
    // Loads "UNLHA32.DLL"; raises EArchiver when it is missing.
    TLha32();
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
    ARCHIVER_LISTING_DECL
    bool SetOwnerWindow(HWND window) override;
    bool KillOwnerWindow(HWND window) override;

    // The text after the command word: "-+", every switch, UserOptions,
    // archive, folder and file list.
    static std::string BuildCommand(const std::string& archive, bool useResFile, const TFileList& files,
                                    const std::string& folder, const TArchiverOptions& options, bool ownerSet);

protected:
    struct NoLoad {};
    explicit TLha32(NoLoad) {}
    // A command of the LHA library: the word, then BuildCommand's text.
    int RunLha(const std::string& word, HWND owner, const std::string& archive, TOutputBuffer& output,
               bool useResFile, const TFileList& files, const std::string& folder, const TArchiverOptions& options);
};
