#include "Ext2Inode.h"

#include <algorithm>
#include <cstring>
#include <new>

#define GC_THREADS
#define GC_NO_THREAD_REDIRECTS
#include <gc.h>

#include "Ext2FileSystem.h"
#include "Pubic.h"
#include "Time.h"

using namespace ext2;

namespace {

// The collector must be set up on the main thread, before any worker allocates or registers
// (it takes the initialising thread's stack for the main one), and worker threads may only
// register once that has been allowed. Static initialisation runs on the thread that loads the
// engine, which is the program's main thread.
struct CCollectorSetup {
    CCollectorSetup()
    {
        GC_INIT();
        GC_allow_register_threads();
    }
};
const CCollectorSetup g_CollectorSetup;

} // namespace

CExt2Inode::CExt2Inode()
{
    Reset(nullptr, 0);
}

void CExt2Inode::Reset(CExt2FileSystem* pFileSystem, uint32_t nInode)
{
    m_pFileSystem = pFileSystem;
    memset(m_abyRaw, 0, sizeof(m_abyRaw));
    m_szName[0] = 0;
    m_nNameLength = 0;
    m_nInode = nInode;
}

CExt2Inode& CExt2Inode::operator=(const CExt2Inode& other)
{
    if (this == &other)
        return *this;
    m_pFileSystem = other.m_pFileSystem;
    memcpy(m_abyRaw, other.m_abyRaw, sizeof(m_abyRaw));
    m_nNameLength = std::min<uint32_t>(other.m_nNameLength, kMaxNameBytes);
    memcpy(m_szName, other.m_szName, m_nNameLength);
    m_szName[m_nNameLength] = 0;
    m_nInode = other.m_nInode;
    return *this;
}

void CExt2Inode::SetRawData(const uint8_t* pRaw)
{
    memcpy(m_abyRaw, pRaw, sizeof(m_abyRaw));
}

void CExt2Inode::SetName(const char* pName, size_t nLength)
{
    nLength = pName ? std::min(nLength, kMaxNameBytes) : 0;
    if (nLength)
        memcpy(m_szName, pName, nLength);
    m_szName[nLength] = 0;
    m_nNameLength = static_cast<uint32_t>(nLength);
}

uint32_t CExt2Inode::GetBlockPointer(uint32_t i) const
{
    return i < kBlockPointers ? Le32(kInBlocks + 4 * i) : 0;
}

uint32_t CExt2Inode::GetGroup() const
{
    if (!m_pFileSystem || m_nInode == 0)
        return 0;
    return (m_nInode - 1) / m_pFileSystem->GetSuperBlock().GetInodesPerGroup();
}

uint64_t CExt2Inode::GetSize() const
{
    const uint32_t nSize = GetSizeField();
    return nSize != 0 ? nSize : static_cast<uint64_t>(GetAllocatedSectors()) * kSectorBytes;
}

uint64_t CExt2Inode::GetFileSize() const
{
    uint64_t nSize = GetSizeField();
    if (m_pFileSystem && (GetMode() & kModeTypeMask) == kModeRegular &&
        m_pFileSystem->GetSuperBlock().GetRevisionLevel() != kGoodOldRevision)
        nSize |= static_cast<uint64_t>(Le32(kInSizeHigh)) << 32;
    return nSize;
}

bool CExt2Inode::IsShort() const
{
    if (!m_pFileSystem)
        return false;
    return GetAllocatedSectors() < GetSizeField() / m_pFileSystem->GetBlockSize();
}

uint64_t CExt2Inode::GetBlockCount() const
{
    if (!m_pFileSystem)
        return 0;
    if (IsShort())
        return GetSizeField() / m_pFileSystem->GetBlockSize();
    return GetAllocatedSectors() / m_pFileSystem->GetSectorsPerBlock();
}

bool CExt2Inode::IsUsable() const
{
    if (GetMode() == 0 || !m_pFileSystem)
        return false;
    // An extent root is no list of pointers: its header must be sound instead.
    const bool bExtents = UsesExtents();
    if (bExtents && GetLe16(m_abyRaw + kInBlocks) != kExtentMagic)
        return false;
    // Nor are the bytes of a file kept in the inode itself.
    const bool bInline = (GetFlags() & kFlagInlineData) != 0;
    const uint32_t nChecked = bExtents || bInline ? 0
                                       : std::min<uint32_t>(GetSizeField() / m_pFileSystem->GetBlockSize(),
                                                            kDirectBlocks + 1);
    for (uint32_t i = 0; i < nChecked; ++i)
        if (!m_pFileSystem->IsValidBlock(GetBlockPointer(i)))
            return false;
    return CPubic::GetScanTypeFilter().CheckFilter(m_nNameLength ? m_szName : nullptr, IsDirectory());
}

FILETIME CExt2Inode::TimeToFileTime(uint32_t nSeconds)
{
    // Inode times are signed 32-bit seconds.
    const int32_t nSigned = static_cast<int32_t>(nSeconds);
    SYSTEMTIME st{};
    FILETIME ft{0};
    if (!rvd::UnixTimeToLocalSystemTime(nSigned > 0 ? nSigned : 0, st))
        return FILETIME{0};
    st.wMilliseconds = 0;
    if (!rvd::SystemTimeToFileTime(st, ft))
        return FILETIME{0};
    return ft;
}

CExt2Inode* CExt2Inode::NewCollected()
{
    void* p = GC_MALLOC(sizeof(CExt2Inode));
    if (!p)
        throw std::bad_alloc();
    return new (p) CExt2Inode();
}

void CExt2Inode::FreeCollected(CExt2Inode* pInode)
{
    GC_FREE(pInode);
}

CExt2CollectorThread::CExt2CollectorThread() : m_bRegistered(false)
{
    if (GC_thread_is_registered())
        return;
    GC_stack_base base;
    if (GC_get_stack_base(&base) == GC_SUCCESS && GC_register_my_thread(&base) == GC_SUCCESS)
        m_bRegistered = true;
}

CExt2CollectorThread::~CExt2CollectorThread()
{
    if (m_bRegistered)
        GC_unregister_my_thread();
}
