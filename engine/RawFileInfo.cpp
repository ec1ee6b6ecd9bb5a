#include "RawFileInfo.h"

#include <algorithm>

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
    // The index keeps the first record of a start sector; later ones are listed only.
    const uint64_t ullStart = pFile->GetStartSector();
    if (m_Index.empty() || m_Index.back()->GetStartSector() < ullStart) {
        m_Index.push_back(pFile);
        return;
    }
    auto it = std::lower_bound(m_Index.begin(), m_Index.end(), ullStart, RawFileInfoLess());
    if (it != m_Index.end() && (*it)->GetStartSector() == ullStart)
        return;
    m_Index.insert(it, pFile);
}

IIterator<CRawFileInfo*>* CRawFileInfoContainer::GetIterator()
{
    return &m_Iterator;
}

CRawFileInfo* CRawFileInfoContainer::FindByStartSector(uint64_t ullStartSector) const
{
    auto it = std::lower_bound(m_Index.begin(), m_Index.end(), ullStartSector, RawFileInfoLess());
    return it == m_Index.end() || (*it)->GetStartSector() != ullStartSector ? nullptr : *it;
}
