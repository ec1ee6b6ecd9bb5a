#include "FileCopier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "InlineData.h"
#include "Lznt1Unit.h"
#include "ResidentData.h"
#include "Time.h"

namespace tessary {

namespace {

constexpr uint64_t SECTOR_BYTES = 512;

// Windows attribute bits whose files are not stored as plain bytes.
constexpr WORD ATTRIBUTE_COMPRESSED = 0x800;
constexpr WORD ATTRIBUTE_ENCRYPTED = 0x4000;

// Reports a stretch of the file whose stored position cannot lie on any device: ullSector is the
// sector as stored where the record names one, else where in the file the stretch begins.
void AddBadPosition(COPY_RESULT* pResult, const VOLUME_SOURCE& source, uint64_t ullSector, uint64_t ullBytes)
{
    BAD_RANGE bad;
    bad.strDevice = source.strName;
    bad.ullOffset = ullSector;
    bad.ullBytes = ullBytes;
    bad.nReason = BAD_RANGE_BAD_POSITION;
    pResult->vecBad.push_back(bad);
}

// A FILETIME as a timespec for utimensat; UTIME_OMIT for an unknown or impossible time.
timespec ToTimespec(FILETIME ft, bool bLocal)
{
    timespec ts{};
    ts.tv_nsec = UTIME_OMIT;
    if (ft.qwTicks == 0 || ft.qwTicks >= (1ULL << 63))
        return ts;
    if (bLocal) {
        FILETIME ftUtc{};
        if (!rvd::LocalFileTimeToFileTime(ft, ftUtc))
            return ts;
        ft = ftUtc;
    }
    const int64_t i64Seconds = rvd::FileTimeToUnixTime(ft);
    if (i64Seconds < static_cast<int64_t>(LONG_MIN) || i64Seconds > static_cast<int64_t>(LONG_MAX))
        return ts;
    ts.tv_sec = static_cast<time_t>(i64Seconds);
    // The Unix epoch is a whole second of FILETIME ticks, so the ticks' remainder is the fraction.
    ts.tv_nsec = static_cast<long>((ft.qwTicks % rvd::kFileTimeTicksPerSecond) * 100);
    return ts;
}

} // namespace

bool WriteAll(int nFd, const uint8_t* pData, size_t nBytes, uint64_t ullOffset)
{
    while (nBytes > 0) {
        const ssize_t n = pwrite(nFd, pData, nBytes, static_cast<off_t>(ullOffset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        pData += n;
        nBytes -= static_cast<size_t>(n);
        ullOffset += static_cast<uint64_t>(n);
    }
    return true;
}

bool ApplyFileTimes(int nFd, const STORED_FILE& file)
{
    const bool bLocal = (file.dwFlags & STORED_FILE_LOCAL_TIMES) != 0;
    timespec times[2] = {ToTimespec(file.ftAccess, bLocal), ToTimespec(file.ftModification, bLocal)};
    if (times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT)
        return true;
    return futimens(nFd, times) == 0;
}

CFileCopier::CFileCopier(CSourceReader* pReader) : m_pReader(pReader) {}

void CFileCopier::Copy(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd,
                       const std::function<bool(uint64_t)>& fnStep, COPY_RESULT* pResult)
{
    *pResult = COPY_RESULT();
    if ((file.dwFlags & STORED_FILE_RESIDENT) != 0) {
        CopyResident(file, source, nFd, pResult);
        if (!pResult->bWriteFailed && !fnStep(file.ullSize))
            pResult->bCancelled = true;
    } else {
        CopyRuns(file, source, nFd, fnStep, pResult);
    }
    if (pResult->bWriteFailed || pResult->bCancelled)
        return;
    AddMemberDiskAreas(source, &pResult->vecBad);
    if ((file.dwFlags & STORED_FILE_RUNS_DAMAGED) != 0)
        pResult->vecNotes.push_back("part of its position on the disk is damaged; that part is zeros");
    if (!source.strNote.empty())
        pResult->vecNotes.push_back(source.strNote);
    // Compressed data is decompressed (resident data never is compressed); encrypted data
    // cannot be read without its key.
    if ((file.wAttributes & ATTRIBUTE_ENCRYPTED) != 0)
        pResult->vecNotes.push_back("it is encrypted on the disk; its bytes are copied as stored");
    else if ((file.wAttributes & ATTRIBUTE_COMPRESSED) != 0 && (file.dwFlags & STORED_FILE_RESIDENT) == 0 &&
             file.dwCompressionUnitSectors == 0 && !file.vecRuns.empty())
        pResult->vecNotes.push_back("it is compressed on the disk in a way that is not known; its bytes are "
                                    "copied as stored");
    // The last run ends at a whole cluster: the file ends at its size, and a tail that no run
    // covers (or that lies past the valid data length) is zeros; what was never written is a
    // hole.
    if (ftruncate(nFd, static_cast<off_t>(file.ullSize)) != 0) {
        pResult->bWriteFailed = true;
        pResult->nWriteError = errno;
    }
}

void CFileCopier::CopyRuns(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd,
                           const std::function<bool(uint64_t)>& fnStep, COPY_RESULT* pResult)
{
    if (file.ullSize > static_cast<uint64_t>(LLONG_MAX)) {
        pResult->bWriteFailed = true;
        pResult->nWriteError = EFBIG;
        return;
    }
    if (m_vecBuffer.empty() && file.ullSize != 0)
        m_vecBuffer.resize(BLOCK_BYTES);
    // Past the valid data length the file reads as zeros, whatever its clusters hold.
    const uint64_t ullValid = file.ullValidSize < file.ullSize ? file.ullValidSize : file.ullSize;
    if (file.dwCompressionUnitSectors != 0) {
        CopyCompressedUnits(file, source, nFd, ullValid, fnStep, pResult);
        return;
    }
    uint64_t ullPos = 0;
    for (const STORED_RUN& run : file.vecRuns) {
        if (ullPos >= file.ullSize)
            break;
        const uint64_t ullLeft = file.ullSize - ullPos;
        const uint64_t ullRunBytes =
            run.ullSectors > ullLeft / SECTOR_BYTES ? ullLeft : run.ullSectors * SECTOR_BYTES;
        if (run.ullSector == STORED_RUN_SPARSE) {
            // A hole: nothing to write; the size set at the end makes it read as zeros.
            ullPos += ullRunBytes;
            if (!fnStep(ullRunBytes)) {
                pResult->bCancelled = true;
                return;
            }
            continue;
        }
        const bool bPlaceable = run.ullSector <= (UINT64_MAX - ullRunBytes) / SECTOR_BYTES;
        for (uint64_t ullDone = 0; ullDone < ullRunBytes;) {
            const uint64_t ullAt = ullPos + ullDone;
            // Nothing more of this run is read when it cannot lie on a device, lies past the
            // valid data length, or lies past the end of the source: the rest of the run is
            // passed over in one step and stays a hole (a damaged record's run or size may
            // reach far past any disk).
            const uint64_t ullRest = ullRunBytes - ullDone;
            if (!bPlaceable || ullAt >= ullValid ||
                m_pReader->SkipPastEnd(source, run.ullSector * SECTOR_BYTES + ullDone,
                                       std::min(ullRest, ullValid - ullAt), &pResult->vecBad)) {
                if (!bPlaceable)
                    AddBadPosition(pResult, source, run.ullSector, ullRunBytes);
                if (!fnStep(ullRest)) {
                    pResult->bCancelled = true;
                    return;
                }
                break;
            }
            const size_t nChunk = static_cast<size_t>(ullRest < BLOCK_BYTES ? ullRest : BLOCK_BYTES);
            const size_t nWanted = static_cast<size_t>(std::min<uint64_t>(nChunk, ullValid - ullAt));
            m_pReader->Read(source, run.ullSector * SECTOR_BYTES + ullDone, m_vecBuffer.data(), nWanted,
                            &pResult->vecBad);
            if (!WriteAll(nFd, m_vecBuffer.data(), nWanted, ullAt)) {
                pResult->bWriteFailed = true;
                pResult->nWriteError = errno;
                return;
            }
            ullDone += nChunk;
            if (!fnStep(nChunk)) {
                pResult->bCancelled = true;
                return;
            }
        }
        ullPos += ullRunBytes;
    }
    if (ullPos < file.ullSize) {
        pResult->vecNotes.push_back("its data on the disk covers only " + std::to_string(ullPos) + " of its " +
                                    std::to_string(file.ullSize) + " bytes; the rest is zeros");
        if (!fnStep(file.ullSize - ullPos))
            pResult->bCancelled = true;
    }
}

void CFileCopier::CopyCompressedUnits(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd, uint64_t ullValid,
                                      const std::function<bool(uint64_t)>& fnStep, COPY_RESULT* pResult)
{
    const uint64_t ullUnitSectors = file.dwCompressionUnitSectors;
    const uint64_t ullUnitBytes = ullUnitSectors * SECTOR_BYTES;
    if (ullUnitSectors > MAX_COMPRESSION_UNIT_SECTORS || ullUnitBytes > BLOCK_BYTES) {
        // No store hands out such a unit; the bytes cannot be told, so none are made up.
        pResult->vecNotes.push_back("its compression unit of " + std::to_string(ullUnitSectors) +
                                    " sectors is not one NTFS uses; the file is zeros");
        if (!fnStep(file.ullSize))
            pResult->bCancelled = true;
        return;
    }
    if (m_vecPacked.size() < ullUnitBytes)
        m_vecPacked.resize(ullUnitBytes);
    size_t nRun = 0;
    uint64_t ullRunUsed = 0;      // sectors of run nRun already given to earlier units
    uint64_t ullCoveredBytes = 0; // of the file, by the runs
    uint64_t ullBadUnits = 0, ullFirstBad = 0;
    for (uint64_t ullUnitStart = 0; ullUnitStart < file.ullSize; ullUnitStart += ullUnitBytes) {
        // Whole units inside the rest of one run hold nothing to read when the run is sparse,
        // cannot lie on a device, or lies past the valid data length or past the end of the
        // source: they are passed over together and stay holes (a damaged record's run may be
        // far longer than any disk).
        if (nRun < file.vecRuns.size()) {
            const STORED_RUN& run = file.vecRuns[nRun];
            const uint64_t ullWhole =
                std::min((run.ullSectors - ullRunUsed) / ullUnitSectors, (file.ullSize - ullUnitStart) / ullUnitBytes);
            const bool bPlaceable = run.ullSector != STORED_RUN_SPARSE &&
                                    ullRunUsed + ullUnitSectors <= UINT64_MAX / SECTOR_BYTES &&
                                    run.ullSector <= UINT64_MAX / SECTOR_BYTES - (ullRunUsed + ullUnitSectors);
            bool bSkip = false;
            if (ullWhole > 1) {
                if (run.ullSector == STORED_RUN_SPARSE || ullUnitStart >= ullValid) {
                    bSkip = true;
                } else if (!bPlaceable) {
                    AddBadPosition(pResult, source, ullUnitStart / SECTOR_BYTES, ullWhole * ullUnitBytes);
                    bSkip = true;
                } else {
                    // Only units that begin before the valid data length would be read. A run of
                    // nearly 2^64 sectors holds more bytes than an offset can name: the units that
                    // can be named are asked about, else the check failed and every unit was read
                    // one by one, without end.
                    const uint64_t ullOffset = (run.ullSector + ullRunUsed) * SECTOR_BYTES;
                    const uint64_t ullRead = std::min({ullWhole, (ullValid - ullUnitStart - 1) / ullUnitBytes + 1,
                                                       (UINT64_MAX - ullOffset) / ullUnitBytes});
                    bSkip = m_pReader->SkipPastEnd(source, ullOffset,
                                                   ullRead * ullUnitBytes, &pResult->vecBad);
                }
            }
            if (bSkip) {
                ullCoveredBytes += ullWhole * ullUnitBytes;
                ullRunUsed += ullWhole * ullUnitSectors;
                if (ullRunUsed >= run.ullSectors) {
                    ++nRun;
                    ullRunUsed = 0;
                }
                if (!fnStep(ullWhole * ullUnitBytes)) {
                    pResult->bCancelled = true;
                    return;
                }
                ullUnitStart += (ullWhole - 1) * ullUnitBytes;
                continue;
            }
        }
        const uint64_t ullUnitEnd = std::min(file.ullSize, ullUnitStart + ullUnitBytes);
        // The unit's sectors, in order: where each stretch lies, and whether any is sparse.
        uint64_t ullCovered = 0, ullStored = 0;
        bool bSparse = false, bPlaceable = true;
        m_vecPieces.clear();
        while (ullCovered < ullUnitSectors && nRun < file.vecRuns.size()) {
            const STORED_RUN& run = file.vecRuns[nRun];
            const uint64_t ullTake = std::min(run.ullSectors - ullRunUsed, ullUnitSectors - ullCovered);
            if (run.ullSector == STORED_RUN_SPARSE) {
                bSparse = true;
            } else if (ullRunUsed + ullTake > UINT64_MAX / SECTOR_BYTES ||
                       run.ullSector > UINT64_MAX / SECTOR_BYTES - (ullRunUsed + ullTake)) {
                bPlaceable = false;
            } else {
                m_vecPieces.push_back(STORED_RUN{run.ullSector + ullRunUsed, ullTake});
                ullStored += ullTake;
            }
            ullCovered += ullTake;
            ullRunUsed += ullTake;
            if (ullRunUsed >= run.ullSectors) {
                ++nRun;
                ullRunUsed = 0;
            }
        }
        if (ullCovered == 0) {
            // The runs end here: the rest of the file is zeros, counted in one step.
            if (!fnStep(file.ullSize - ullUnitStart))
                pResult->bCancelled = true;
            break;
        }
        ullCoveredBytes += std::min(ullCovered * SECTOR_BYTES, ullUnitEnd - ullUnitStart);
        if (!bPlaceable)
            AddBadPosition(pResult, source, ullUnitStart / SECTOR_BYTES, ullUnitEnd - ullUnitStart);
        // A unit that is all hole, or lies past the valid data length, stays a hole.
        if (bPlaceable && ullStored != 0 && ullUnitStart < ullValid) {
            uint8_t* pPacked = m_vecPacked.data();
            size_t nPacked = 0;
            for (const STORED_RUN& piece : m_vecPieces) {
                const size_t nBytes = static_cast<size_t>(piece.ullSectors * SECTOR_BYTES);
                m_pReader->Read(source, piece.ullSector * SECTOR_BYTES, pPacked + nPacked, nBytes, &pResult->vecBad);
                nPacked += nBytes;
            }
            const uint8_t* pData = pPacked;
            size_t nData = nPacked;
            if (bSparse) {
                // Part of the unit is sparse: its stored clusters hold the unit compressed.
                if (!DecompressLznt1Unit(pPacked, nPacked, m_vecBuffer.data(), static_cast<size_t>(ullUnitBytes))) {
                    if (ullBadUnits++ == 0)
                        ullFirstBad = ullUnitStart;
                }
                pData = m_vecBuffer.data();
                nData = static_cast<size_t>(ullUnitBytes);
            }
            const uint64_t ullEnd = std::min(ullUnitEnd, ullValid);
            const size_t nWrite = static_cast<size_t>(std::min<uint64_t>(nData, ullEnd - ullUnitStart));
            if (!WriteAll(nFd, pData, nWrite, ullUnitStart)) {
                pResult->bWriteFailed = true;
                pResult->nWriteError = errno;
                return;
            }
        }
        if (!fnStep(ullUnitEnd - ullUnitStart)) {
            pResult->bCancelled = true;
            return;
        }
    }
    if (pResult->bCancelled)
        return;
    if (ullBadUnits != 0)
        pResult->vecNotes.push_back(std::to_string(ullBadUnits) + " of its compression units (the first at byte " +
                                    std::to_string(ullFirstBad) + ") could not be decompressed; what could not be "
                                    "decoded is zeros");
    if (ullCoveredBytes < file.ullSize)
        pResult->vecNotes.push_back("its data on the disk covers only " + std::to_string(ullCoveredBytes) + " of its " +
                                    std::to_string(file.ullSize) + " bytes; the rest is zeros");
}

void CFileCopier::CopyInline(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd, COPY_RESULT* pResult)
{
    const uint32_t dwRecordBytes = file.dwResidentOffset >> 16;
    const uint32_t dwArea = file.dwResidentOffset & 0xFFFF;
    // The store hands out only records of a power-of-two size beginning in the sector named.
    const bool bPlaceable = dwRecordBytes >= 128 && dwRecordBytes <= STORED_INLINE_MAX_RECORD &&
                            (dwRecordBytes & (dwRecordBytes - 1)) == 0 && dwArea >= STORED_INLINE_AREA_OFFSET &&
                            dwArea - STORED_INLINE_AREA_OFFSET < SECTOR_BYTES &&
                            file.ullResidentSector <= (UINT64_MAX - 2 * STORED_INLINE_MAX_RECORD) / SECTOR_BYTES;
    if (!bPlaceable) {
        AddBadPosition(pResult, source, file.ullResidentSector, dwRecordBytes);
        return;
    }
    std::vector<uint8_t> vecRecord(dwRecordBytes);
    const size_t nBadBefore = pResult->vecBad.size();
    const uint64_t ullOffset = file.ullResidentSector * SECTOR_BYTES + (dwArea - STORED_INLINE_AREA_OFFSET);
    const bool bRead = m_pReader->Read(source, ullOffset, vecRecord.data(), vecRecord.size(), &pResult->vecBad);
    std::vector<uint8_t> vecData;
    std::string strProblem;
    if (!bRead) {
        if (pResult->vecBad.size() == nBadBefore)
            pResult->vecNotes.push_back("its inode could not be read; the file is zeros");
    } else if (!ExtractInlineData(vecRecord.data(), vecRecord.size(), file.ullSize, &vecData, &strProblem)) {
        pResult->vecNotes.push_back(strProblem + "; the file is zeros");
    } else if (vecData.size() < file.ullSize) {
        pResult->vecNotes.push_back("its inode holds only " + std::to_string(vecData.size()) + " of its " +
                                    std::to_string(file.ullSize) + " bytes; the rest is zeros");
    }
    if (!vecData.empty() && !WriteAll(nFd, vecData.data(), vecData.size(), 0)) {
        pResult->bWriteFailed = true;
        pResult->nWriteError = errno;
    }
}

void CFileCopier::CopyResident(const STORED_FILE& file, const VOLUME_SOURCE& source, int nFd, COPY_RESULT* pResult)
{
    if (file.dwResidentOffset > 0xFFFF) {
        CopyInline(file, source, nFd, pResult);
        return;
    }
    std::vector<uint8_t> vecRecord(FILE_RECORD_FIRST_READ);
    const size_t nBadBefore = pResult->vecBad.size();
    bool bRead = false;
    if (file.ullResidentSector <= UINT64_MAX / SECTOR_BYTES - FILE_RECORD_MAX_BYTES) {
        const uint64_t ullOffset = file.ullResidentSector * SECTOR_BYTES;
        bRead = m_pReader->Read(source, ullOffset, vecRecord.data(), vecRecord.size(), &pResult->vecBad);
        const size_t nLength = bRead ? FileRecordLength(vecRecord.data(), vecRecord.size()) : 0;
        if (nLength > vecRecord.size()) {
            vecRecord.resize(nLength);
            bRead = m_pReader->Read(source, ullOffset + FILE_RECORD_FIRST_READ,
                                    vecRecord.data() + FILE_RECORD_FIRST_READ, nLength - FILE_RECORD_FIRST_READ,
                                    &pResult->vecBad);
        } else if (nLength != 0) {
            vecRecord.resize(nLength);
        }
    } else {
        AddBadPosition(pResult, source, file.ullResidentSector, FILE_RECORD_FIRST_READ);
    }
    std::vector<uint8_t> vecData;
    bool bFixupsChecked = true;
    std::string strProblem;
    if (!bRead) {
        // The unreadable stretch is reported; a record that cannot be read whole gives nothing.
        if (pResult->vecBad.size() == nBadBefore)
            pResult->vecNotes.push_back("its FILE record could not be read; the file is zeros");
    } else if (!ExtractResidentData(vecRecord.data(), vecRecord.size(), file.dwResidentOffset, file.ullSize, &vecData,
                                    &bFixupsChecked, &strProblem)) {
        pResult->vecNotes.push_back(strProblem + "; the file is zeros");
    } else if (!bFixupsChecked) {
        pResult->vecNotes.push_back("its FILE record was not written whole (update sequence mismatch); "
                                    "some bytes may be wrong");
    }
    if (!vecData.empty() && !WriteAll(nFd, vecData.data(), vecData.size(), 0)) {
        pResult->bWriteFailed = true;
        pResult->nWriteError = errno;
    }
}

} // namespace tessary
