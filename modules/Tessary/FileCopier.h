// Writes one found file's bytes from the scanned device into an open file: its runs in large
// blocks (sparse runs stay holes; NTFS compression units decompressed; nothing past the valid
// data length), or its resident data taken from its FILE record (or, on EXT4, from its inode),
// then the file cut or extended to its size and given its times.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ResultStoreAccess.h"
#include "SourceReader.h"

namespace tessary {

struct COPY_RESULT {
    bool bWriteFailed = false;        // the copy is unusable; nWriteError says why
    int nWriteError = 0;
    bool bCancelled = false;          // stopped at the caller's request
    std::vector<BAD_RANGE> vecBad;    // stretches of the medium given as zeros
    std::vector<std::string> vecNotes;  // other reasons why some bytes are not the original ones
};

class CFileCopier {
public:
    // Bytes read and written per block.
    static constexpr size_t BLOCK_BYTES = 1 << 20;

    explicit CFileCopier(CSourceReader* pReader);

    // Writes file (whose runs count sectors of source) into nFd from offset 0. fnStep is told the
    // bytes of the file dealt with since its last call; it returns false to stop the copy.
    void Copy(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd,
              const std::function<bool(uint64_t)>& fnStep, COPY_RESULT* pResult);

private:
    void CopyRuns(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd,
                  const std::function<bool(uint64_t)>& fnStep, COPY_RESULT* pResult);
    // NTFS compression: unit by unit, a unit that is all sparse stays a hole, a unit whose
    // sectors all lie on the medium is copied, any other unit is decompressed (LZNT1).
    void CopyCompressedUnits(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd, uint64_t ullValid,
                             const std::function<bool(uint64_t)>& fnStep, COPY_RESULT* pResult);
    void CopyResident(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd, COPY_RESULT* pResult);
    // EXT4 inline data: the bytes taken from the file's inode.
    void CopyInline(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd, COPY_RESULT* pResult);

    CSourceReader* m_pReader;
    std::vector<uint8_t> m_vecBuffer;
    std::vector<uint8_t> m_vecPacked;      // a compression unit as stored
    std::vector<STORED_RUN> m_vecPieces;   // where its stored sectors lie
};

// Sets the file's modification and access times (a FAT time, a local clock reading, is taken
// as local time of this machine); unknown times are left alone. False with errno on failure.
bool ApplyFileTimes(int nFd, const STORED_FILE& file);

// Writes all of nBytes at nOffset, going on after short writes and interruptions; false with
// errno on failure.
bool WriteAll(int nFd, const uint8_t* pData, size_t nBytes, uint64_t ullOffset);

} // namespace tessary
