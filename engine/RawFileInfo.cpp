#include "RawFileInfo.h"

CRawFileInfoContainer::CRawFileInfoContainer() : m_Iterator(&m_Files)
{
}

CRawFileInfoContainer::~CRawFileInfoContainer()
{
    for (CRawFileInfo* pFile : m_Files)
        delete pFile;
    m_Index.clear();
    m_Files.clear();
}

void CRawFileInfoContainer::AddFile(CRawFileInfo* pFile)
{
    if (pFile == nullptr)
        return;
    m_Files.push_back(pFile);
    // A set keeps the first record of a start sector; later ones are listed only.
    m_Index.insert(pFile);
}

IIterator<CRawFileInfo*>* CRawFileInfoContainer::GetIterator()
{
    return &m_Iterator;
}

CRawFileInfo* CRawFileInfoContainer::FindByStartSector(uint64_t ullStartSector) const
{
    auto it = m_Index.find(ullStartSector);
    return it == m_Index.end() ? nullptr : *it;
}
