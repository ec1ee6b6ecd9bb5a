#include "Ext2DirEntry.h"

#include <algorithm>

using namespace ext2;

const char* CExt2DirEntry::CBadDir::what() const noexcept
{
    return "CExt2DirEntry::CBadDir";
}

size_t CExt2DirEntry::GetAvailableNameLength() const
{
    if (!HasHeader())
        return 0;
    return std::min<size_t>(GetNameLength(), m_nSize - kDeHeaderBytes);
}

bool CExt2DirEntry::IsValid() const
{
    if (!HasHeader())
        return false;
    const size_t nRecord = GetRecordLength();
    const size_t nNeeded = (GetNameLength() + 11u) & ~size_t(3);
    return nRecord % 4 == 0 && nRecord >= nNeeded && nRecord <= m_nSize;
}
