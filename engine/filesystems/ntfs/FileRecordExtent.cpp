#include "FileRecordExtent.h"

#include "DataStreamIO.h"

using namespace DataStreamIO;

bool FILE_RECORD_EXTENT::TryExtend(uint64_t ullSector)
{
    if (ullSector - ullFirstSector != 2 * ullCount || ullSector < ullFirstSector)
        return false;
    ++ullCount;
    return true;
}

BOOL FILE_RECORD_EXTENT::Save(IDataStream* pWriter) const
{
    return pWriter != nullptr && WriteLE(pWriter, ullFirstSector) && WriteLE(pWriter, ullCount) ? TRUE : FALSE;
}

BOOL FILE_RECORD_EXTENT::Load(IDataStream* pReader)
{
    uint64_t ullFirst = 0;
    uint64_t ullRecords = 0;
    if (pReader == nullptr || !ReadLE(pReader, ullFirst) || !ReadLE(pReader, ullRecords))
        return FALSE;
    ullFirstSector = ullFirst;
    ullCount = ullRecords;
    return TRUE;
}
