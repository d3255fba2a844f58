// The ARJ driver: the LHA command lines, sent to UNARJ32J.DLL.
#pragma once
#include "archivers/LHA32.h"

namespace norvex {

class TArj32 : public TLha32 {
public:
    static void LoadDLL();
    static void FreeDLL();
    static bool CheckFile(const AnsiString& name);

    TCustomArchiverDll* Dll() override;
    void EnsureDLL() override { LoadDLL(); }
};

}  // namespace norvex
