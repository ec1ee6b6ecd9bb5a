#include "InlineData.h"

#include <algorithm>

#include "ext2/Ext2InlineData.h"
#include "ext2/Ext2Layout.h"

namespace tessary {

bool ExtractInlineData(const uint8_t* pRecord, size_t nRecordBytes, uint64_t ullSize, std::vector<uint8_t>* pvecData,
                       std::string* pstrProblem)
{
    pvecData->clear();
    CExt2InlineData area;
    const bool bFastSymlink = CExt2InlineData::IsFastSymlink(pRecord, nRecordBytes);
    if (!area.Read(pRecord, nRecordBytes) ||
        ((ext2::GetLe32(pRecord + ext2::kInFlags) & ext2::kFlagInlineData) == 0 && !bFastSymlink)) {
        *pstrProblem = "its inode no longer keeps its data in itself";
        return false;
    }
    const uint64_t ullFirst = std::min<uint64_t>(ullSize, CExt2InlineData::kBlockAreaBytes);
    const uint8_t* pArea = pRecord + CExt2InlineData::kBlockAreaOffset;
    pvecData->assign(pArea, pArea + ullFirst);
    // A fast link's target lies in the block area alone.
    const uint64_t ullRest = bFastSymlink ? 0 : std::min<uint64_t>(ullSize - ullFirst, area.GetValueBytes());
    const uint8_t* pValue = pRecord + area.GetValueOffset();
    pvecData->insert(pvecData->end(), pValue, pValue + ullRest);
    return true;
}

} // namespace tessary
