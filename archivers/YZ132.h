// The YZ1 driver over YYZ32.DLL or, failing that, YZ1.DLL; its binding asks for a password and
// retries when an archive is encrypted.
#pragma once
#include "archivers/Archives.h"

namespace norvex {

class TYZ1Dll : public TArchiverDll {
public:
    explicit TYZ1Dll(const AnsiString& dllName);

    // Records the window for the password dialog, then opens.
    HARC OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode) override;
    // Up to four attempts: after a password failure (0x800A) the dialog is offered and, when the user
    // gives a password, it is set and the search is tried again.
    int FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info) override;

private:
    NvxWindow* FWindow = nullptr;
};

class TYZ1 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();
    static bool CheckFile(const AnsiString& name);

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }

    // Joins a stub, the archive and the archive's size (4 bytes, most significant first) into
    // <archive>.exe; runs no module command.
    int MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                const AnsiString& folder, const TArchiverOptions& options) override;

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;

private:
    AnsiString BuildYz1Command(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                               const AnsiString& folder, const TFileList& files, bool useResponseFile);
};

}  // namespace norvex
