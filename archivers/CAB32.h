// The CAB driver (CAB32.DLL).
#pragma once
#include "archivers/Archives.h"

namespace norvex {

class TCab32 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();
    static bool CheckFile(const AnsiString& name);

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;
    AnsiString BuildSfxCommand(const AnsiString& name, const TArchiverOptions& options,
                               const AnsiString& folder) override;
    AnsiString BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& options,
                                      const AnsiString& entryName) override;

private:
    AnsiString BuildCabCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                               const AnsiString& folder, const TFileList& files, bool useResponseFile);
};

}  // namespace norvex
