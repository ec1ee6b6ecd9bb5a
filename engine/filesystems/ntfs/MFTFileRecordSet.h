// The FILE records a tree builder read through one $MFT copy, and the temporary root below which
// they are assembled into folders.
#pragma once

#include <vector>

#include "EngineMemory.h"

class CFileNode;
class CMFTRecordInfo;
class CNTFSFileRecordItem;

class CMFTFileRecordSet : public CEngineObject {
public:
    typedef std::vector<CNTFSFileRecordItem*, CEngineAllocator<CNTFSFileRecordItem*>> CItemList;

    // The $MFT copy is not owned; the temporary root is made here.
    explicit CMFTFileRecordSet(CMFTRecordInfo* pMFT);
    // Deletes the temporary root (not the nodes below it) and every item.
    ~CMFTFileRecordSet();
    CMFTFileRecordSet(const CMFTFileRecordSet&) = delete;
    CMFTFileRecordSet& operator=(const CMFTFileRecordSet&) = delete;

    CMFTRecordInfo* GetMFT() const { return m_pMFT; }
    CFileNode* GetRoot() const { return m_pRoot; }
    CItemList& GetItems() { return m_Items; }
    // Takes the item over.
    void AddItem(CNTFSFileRecordItem* pItem) { m_Items.push_back(pItem); }

private:
    CMFTRecordInfo* m_pMFT;
    CItemList m_Items;
    CFileNode* m_pRoot;
};
