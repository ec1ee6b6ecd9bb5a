// One user-defined file type: its extension and the byte signatures that its files carry at
// fixed offsets of their first sector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SignatureEntry {
    uint32_t offset;     // 0..496
    uint32_t length;     // 0..16
    uint8_t data[260];   // the first length bytes are compared; the rest is zero
};

class CCustomHeader {
public:
    CCustomHeader();
    virtual ~CCustomHeader();

    // Loads the type from a script; false (and the reason) when the script cannot be opened or
    // is not valid.
    bool Load(const std::string& strPath, std::string* pstrReason = nullptr);
    // True when the type has signatures and every one of them is found in the 512-byte sector.
    bool Match(const uint8_t* pSector) const;

    const std::string& GetExtension() const { return m_strExtension; }
    const std::vector<SignatureEntry>& GetSignatures() const { return m_vecSignatures; }

private:
    std::string m_strExtension;   // upper case, 1..16 characters
    std::vector<SignatureEntry> m_vecSignatures;
};
