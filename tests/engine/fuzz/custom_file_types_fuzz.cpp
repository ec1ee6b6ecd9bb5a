// Fuzz target for the user-defined file-type scripts: the input is a script's text. Every line is
// checked; a valid script is loaded and its signatures matched against the input's first sector.
// Whatever the text, the checks end and every signature stays inside the sector.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <cstdlib>
#include <string>

#include "CustomHeader.h"
#include "ScriptProcess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string strText(reinterpret_cast<const char*>(pData), nSize);
    size_t nStart = 0;
    for (;;) {
        const size_t nBreak = strText.find("\r\n", nStart);
        std::string strReason;
        CScriptProcess::CheckLine(strText.substr(nStart, nBreak == std::string::npos ? nBreak : nBreak - nStart),
                                  &strReason);
        if (nBreak == std::string::npos)
            break;
        nStart = nBreak + 2;
    }
    char szPath[] = "/tmp/rvd-fuzz-script-XXXXXX";
    const int fd = mkstemp(szPath);
    if (fd < 0)
        return 0;
    FILE* pFile = fdopen(fd, "wb");
    fwrite(pData, 1, nSize, pFile);
    fclose(pFile);
    CCustomHeader header;
    if (header.Load(szPath)) {
        for (const SignatureEntry& entry : header.GetSignatures()) {
            if (entry.offset > 496 || entry.length > 16)
                abort();
        }
        if (header.GetExtension().empty() || header.GetExtension().size() > 16)
            abort();
        uint8_t sector[512] = {};
        memcpy(sector, pData, nSize < 512 ? nSize : 512);
        header.Match(sector);
    }
    remove(szPath);
    return 0;
}
