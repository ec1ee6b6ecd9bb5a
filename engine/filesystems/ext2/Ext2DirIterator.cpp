#include "Ext2DirIterator.h"

#include <algorithm>
#include <cstring>

#include "Ext2FileSystem.h"
#include "Ext2InodeEnumerator.h"

using namespace ext2;

CExt2DirIterator::CExt2DirIterator(const CExt2Inode& directory)
    : m_Directory(directory), m_Blocks(directory), m_nSize(0), m_nPosition(0),
      m_nBlockSize(directory.GetFileSystem() ? directory.GetFileSystem()->GetBlockSize() : 0), m_bLoaded(false),
      m_nLoadedBlock(0), m_pBlock(nullptr), m_nBlockLength(0)
{
    Begin();
}

void CExt2DirIterator::Reset(const CExt2Inode& directory)
{
    m_Directory = directory;
    m_Blocks.Reset(directory);
    m_nBlockSize = directory.GetFileSystem() ? directory.GetFileSystem()->GetBlockSize() : 0;
    m_nLoadedBlock = 0;
    Begin();
}

void CExt2DirIterator::Begin()
{
    m_bLoaded = false;
    m_pBlock = nullptr;
    m_nBlockLength = 0;
    m_nPosition = 0;
    m_nSize = m_nBlockSize ? m_Directory.GetSize() : 0;
    if (m_nSize > 0 && !LoadBlock(0))
        End();
}

bool CExt2DirIterator::LoadBlock(uint64_t nLogicalBlock)
{
    m_Blocks.SetIndex(nLogicalBlock);
    m_pBlock = m_Blocks.GetData(&m_nBlockLength);
    m_bLoaded = m_pBlock != nullptr;
    m_nLoadedBlock = nLogicalBlock;
    return m_bLoaded;
}

CExt2DirEntry CExt2DirIterator::GetEntry() const
{
    if (!m_bLoaded)
        throw CExt2DirEntry::CBadDir();
    const uint64_t nOffset = m_nPosition - m_nLoadedBlock * m_nBlockSize;
    if (m_nPosition < m_nLoadedBlock * m_nBlockSize || nOffset >= m_nBlockLength)
        return CExt2DirEntry(nullptr, 0);
    return CExt2DirEntry(m_pBlock + nOffset, m_nBlockLength - nOffset);
}

void CExt2DirIterator::Next()
{
    if (IsEnd())
        return;
    if (!m_bLoaded) {
        End();
        return;
    }
    const CExt2DirEntry entry = GetEntry();
    if (!entry.IsValid() || entry.GetRecordLength() > m_nBlockSize) {
        End();
        return;
    }
    const uint64_t nNext = m_nPosition + entry.GetRecordLength();
    if (nNext >= m_nSize) {
        End();
        return;
    }
    if (nNext / m_nBlockSize != m_nLoadedBlock && !LoadBlock(nNext / m_nBlockSize)) {
        End();
        return;
    }
    m_nPosition = nNext;
}

size_t CExt2DirIterator::GetName(char* pszOut) const
{
    return GetEntryName(GetEntry(), pszOut);
}

size_t CExt2DirIterator::GetEntryName(const CExt2DirEntry& entry, char* pszOut)
{
    // The name's bytes as stored. An EXT name is bytes in whatever encoding its system wrote:
    // valid UTF-8 (most names) is already this program's narrow text, and a name that is not
    // (Latin-1, say) is kept whole for the store to decode, never cut at a byte that does not
    // convert: "dir\xE9" and "dir\xE8" are two folders. No EXT name holds a zero byte; in a
    // damaged entry one would end the name early for everything that reads it as a C string,
    // so it becomes '_' and the name keeps its length.
    const char* pStored = entry.GetName();
    size_t nLength = pStored != nullptr ? entry.GetAvailableNameLength() : 0;
    if (nLength > kMaxNameBytes)
        nLength = kMaxNameBytes;
    for (size_t i = 0; i < nLength; ++i)
        pszOut[i] = pStored[i] != 0 ? pStored[i] : '_';
    pszOut[nLength] = 0;
    return nLength;
}

bool CExt2DirIterator::IsEntryValid() const
{
    return GetEntry().IsValid();
}

void CExt2DirIterator::GetInode(CExt2Inode* pOut, const CExt2InodeEnumerator* pHeld) const
{
    const CExt2DirEntry entry = GetEntry();
    CExt2FileSystem* pFs = m_Directory.GetFileSystem();
    if (entry.IsValid()) {
        if (pHeld == nullptr || !pHeld->LoadHeld(entry.GetInodeNumber(), pOut))
            pFs->LoadInode(entry.GetInodeNumber(), pOut);
    }
    else
        pOut->Reset(pFs, entry.GetInodeNumber());

    char szName[kMaxNameBytes + 1];
    const size_t nLength = GetName(szName);
    pOut->SetName(szName, nLength);
}
