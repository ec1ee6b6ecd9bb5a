// Inline data of a small EXT4 file: its bytes lie inside its inode, the first 60 in the block
// area and the rest in the value of the "system.data" extended attribute kept in the inode's
// extra space. Where that value lies is read with the engine's own reader
// (ext2/Ext2InlineData.h). A fast symbolic link's target text is kept the same way, in the
// block area alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessary {

// Copies the first ullSize bytes of the inline data of the inode record pRecord (nRecordBytes:
// the record's whole size) into *pvecData, fewer when the inode holds fewer. False, with the
// reason in *pstrProblem, when the record no longer marks its data as inline (nor is a fast link).
bool ExtractInlineData(const uint8_t* pRecord, size_t nRecordBytes, uint64_t ullSize, std::vector<uint8_t>* pvecData,
                       std::string* pstrProblem);

} // namespace tessary
