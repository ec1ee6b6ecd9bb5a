#include "MFTFileRecordSet.h"

#include "FileNode.h"
#include "NTFSFileRecordItem.h"

CMFTFileRecordSet::CMFTFileRecordSet(CMFTRecordInfo* pMFT) : m_pMFT(pMFT), m_pRoot(CreateFileNode())
{
}

CMFTFileRecordSet::~CMFTFileRecordSet()
{
    DestroyFileNode(m_pRoot);
    for (CNTFSFileRecordItem* pItem : m_Items)
        delete pItem;
}
