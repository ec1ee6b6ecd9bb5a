// A minimal file-properties object for the found-file tree tests, and helpers to build and
// release small trees. The real properties classes belong to the readers and the carving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DataStreamIO.h"
#include "FileNode.h"
#include "FileProperties.h"
#include "FileSystemNode.h"
#include "PackedDataRuns.h"

class CTestFileProperties : public IFileProperties {
public:
    CTestFileProperties(const std::string& strName = "", uint64_t ullSize = 0, uint16_t nAttributes = 0x20)
        : m_strName(strName), m_ullSize(ullSize), m_nAttributes(nAttributes)
    {
    }
    ~CTestFileProperties() override { delete m_pPacked; }

    int32_t GetNameLength() override { return static_cast<int32_t>(m_strName.size()); }
    const char* GetName() override { return m_strName.c_str(); }
    uint64_t GetSize() override { return m_ullSize; }
    uint16_t GetAttributes() override { return m_nAttributes; }
    void GetCreationTime(FILETIME* p) override { p->qwTicks = 0; }
    void GetModificationTime(FILETIME* p) override { p->qwTicks = 0; }
    void GetAccessTime(FILETIME* p) override { p->qwTicks = 0; }
    uint8_t GetStatus() override { return m_nStatus; }
    uint8_t GetCheckState() override { return m_nCheckState; }
    void SetCheckState(uint8_t n) override { m_nCheckState = n; }
    IDataRunList* GetDataRunList() override { return m_pPacked ? m_pPacked->CreateDataRunList() : nullptr; }
    int32_t GetValidPropertyMask() override { return 0xFF; }
    uint8_t GetFlag() override { return m_nFlag; }
    int32_t SetFlag(uint8_t n) override
    {
        uint8_t nOld = m_nFlag;
        m_nFlag = n;
        return nOld;
    }
    // Layout of this test class: u16 name length, name, u64 size, u16 attributes, u8 status,
    // then the packed-runs record.
    BOOL Save(IDataStream* w) override
    {
        using namespace DataStreamIO;
        uint16_t n = static_cast<uint16_t>(m_strName.size());
        bool bOk = WriteLE(w, n) && WriteBytes(w, m_strName.data(), n) && WriteLE(w, m_ullSize) &&
                   WriteLE(w, m_nAttributes) && WriteLE(w, m_nStatus);
        if (!bOk)
            return FALSE;
        if (m_pPacked)
            return m_pPacked->Save(w);
        PACKED_DATA_RUNS empty;
        return empty.Save(w);
    }
    int32_t GetPropertiesKind() override { return 99; }
    BOOL Load(IDataStream* r) override
    {
        using namespace DataStreamIO;
        uint16_t n = 0;
        if (!ReadLE(r, n))
            return FALSE;
        std::string strName(n, '\0');
        if (!ReadBytes(r, &strName[0], n) || !ReadLE(r, m_ullSize) || !ReadLE(r, m_nAttributes) ||
            !ReadLE(r, m_nStatus))
            return FALSE;
        PACKED_DATA_RUNS* pPacked = LoadPackedDataRuns(r);
        if (!pPacked)
            return FALSE;
        m_strName = strName;
        delete m_pPacked;
        m_pPacked = pPacked;
        m_nCheckState = 0;
        m_nFlag = 0;
        return TRUE;
    }
    int32_t GetReservedValue() override { return 0; }

    void SetDataRunList(IDataRunList* pList)
    {
        delete m_pPacked;
        m_pPacked = PackDataRunList(pList);
        delete pList;
    }

    std::string m_strName;
    uint64_t m_ullSize;
    uint16_t m_nAttributes;
    uint8_t m_nStatus = 0;
    uint8_t m_nCheckState = 0;
    uint8_t m_nFlag = 0;
    PACKED_DATA_RUNS* m_pPacked = nullptr;
};

inline CFileNode* AddTestFile(CFileNode* pParent, const std::string& strName, uint64_t ullSize,
                              uint16_t nAttributes = 0x20)
{
    CFileNode* pNode = CreateFileNode();
    pNode->SetProperties(new CTestFileProperties(strName, ullSize, nAttributes));
    return pParent->AddChild(pNode);
}

inline CFileNode* AddTestFolder(CFileNode* pParent, const std::string& strName)
{
    return AddTestFile(pParent, strName, 0, 0x10);
}

inline CTestFileProperties* TestProps(CFileNode* pNode)
{
    return static_cast<CTestFileProperties*>(pNode->GetProperties());
}

// Deletes a tree children first, without recursion, the way the engine's deleter does.
inline void FreeTestTree(CFileNode* pRoot)
{
    if (!pRoot)
        return;
    std::vector<CFileNode*> order;
    order.push_back(pRoot);
    for (size_t i = 0; i < order.size(); ++i)
        for (CFileNode* c = order[i]->GetFirstChild(); c; c = c->GetNextSibling())
            order.push_back(c);
    for (size_t i = order.size(); i-- > 0;) {
        delete order[i]->GetProperties();
        DestroyFileNode(order[i]);
    }
}
