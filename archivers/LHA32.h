// The LHA driver: the reference member of the driver family, passing every option through as the LHA
// module's own switch.
#pragma once
#include "archivers/Archives.h"

namespace norvex {

class TLha32 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();
    // The content check of type detection: never raises.
    static bool CheckFile(const AnsiString& name);

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;
    AnsiString BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& options, const TFileList& files,
                                  bool useResponseFile) override;
    AnsiString BuildUpdateCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                  const TFileList& files, bool useResponseFile) override;
    AnsiString BuildSfxCommand(const AnsiString& name, const TArchiverOptions& options,
                               const AnsiString& folder) override;
    AnsiString BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& options,
                                      const AnsiString& entryName) override;

protected:
    // The LHA command line: word, "-+1", the switches in their fixed order, UserOptions, the archive,
    // the folder, the files, UserFileList.
    AnsiString BuildLhaCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& options,
                               const AnsiString& folder, const TFileList& files, bool useResponseFile);
};

}  // namespace norvex
