#include "DataRunList.h"

#include "DataStreamIO.h"

using namespace DataStreamIO;

IDataRunList::IDataRunList() : m_nCursor(0)
{
}

IDataRunList::~IDataRunList()
{
}

BOOL IDataRunList::IsResident() const
{
    return FALSE;
}

int32_t IDataRunList::GetResidentValue() const
{
    return 0;
}

BOOL IDataRunList::Save(IDataStream* pWriter) const
{
    return SaveRuns(pWriter);
}

BOOL IDataRunList::Load(IDataStream* pReader)
{
    return LoadRuns(pReader);
}

BOOL IDataRunList::SaveRuns(IDataStream* pWriter) const
{
    if (pWriter == nullptr || m_Runs.size() > 0xFFFFFFFFu)
        return FALSE;
    if (!WriteLE(pWriter, static_cast<uint32_t>(m_Runs.size())))
        return FALSE;
    for (const DATA_RUN& run : m_Runs) {
        if (!WriteLE(pWriter, run.ullStart) || !WriteLE(pWriter, run.ullLength))
            return FALSE;
    }
    return TRUE;
}

BOOL IDataRunList::LoadRuns(IDataStream* pReader)
{
    if (pReader == nullptr)
        return FALSE;
    uint32_t nCount = 0;
    if (!ReadLE(pReader, nCount) || nCount > MAX_STORED_DATA_RUNS)
        return FALSE;
    // Runs are appended as they arrive, so a count larger than the data fails at the first
    // missing byte without reserving anything for it; a failed load takes its runs back out.
    size_t nOldCount = m_Runs.size();
    for (uint32_t i = 0; i < nCount; ++i) {
        DATA_RUN run;
        if (!ReadLE(pReader, run.ullStart) || !ReadLE(pReader, run.ullLength)) {
            m_Runs.resize(nOldCount);
            if (m_nCursor > nOldCount)
                m_nCursor = nOldCount;
            return FALSE;
        }
        m_Runs.push_back(run);
    }
    return TRUE;
}

DATA_RUN* IDataRunList::GetFirstRun()
{
    if (m_Runs.empty())
        return nullptr;
    m_nCursor = 0;
    return &m_Runs[0];
}

DATA_RUN* IDataRunList::GetNextRun()
{
    if (m_nCursor < m_Runs.size())
        ++m_nCursor;
    if (m_nCursor >= m_Runs.size())
        return nullptr;
    return &m_Runs[m_nCursor];
}

bool IDataRunList::IsEnd() const
{
    return m_nCursor >= m_Runs.size();
}

void IDataRunList::AppendRun(const DATA_RUN& run)
{
    m_Runs.push_back(run);
}

void IDataRunList::MergeRun(const DATA_RUN& run)
{
    if (!m_Runs.empty()) {
        DATA_RUN& last = m_Runs.back();
        // Two EXT2 holes in a row both start at block 0 and merge into one hole.
        if (last.ullStart + last.ullLength == run.ullStart || (last.ullStart == 0 && run.ullStart == 0)) {
            last.ullLength += run.ullLength;
            return;
        }
    }
    m_Runs.push_back(run);
}

void IDataRunList::AddRun(const DATA_RUN& run)
{
    if (m_Runs.empty())
        AppendRun(run);
    else
        MergeRun(run);
}

void CFATDataRunList::AddRun(const DATA_RUN& run)
{
    if (!m_Runs.empty()) {
        DATA_RUN& last = m_Runs.back();
        if (static_cast<int64_t>(last.ullStart) >= 0 && last.ullStart + last.ullLength == run.ullStart) {
            last.ullLength += run.ullLength;
            return;
        }
    }
    m_Runs.push_back(run);
}

BOOL CResidentNTFSDataRunList::Save(IDataStream* pWriter) const
{
    return SaveRuns(pWriter) && WriteLE(pWriter, m_nResidentValue) ? TRUE : FALSE;
}

BOOL CResidentNTFSDataRunList::Load(IDataStream* pReader)
{
    size_t nOldCount = m_Runs.size();
    if (!LoadRuns(pReader))
        return FALSE;
    int32_t nValue = 0;
    if (!ReadLE(pReader, nValue)) {
        m_Runs.resize(nOldCount);
        if (m_nCursor > nOldCount)
            m_nCursor = nOldCount;
        return FALSE;
    }
    m_nResidentValue = nValue;
    return TRUE;
}

void CResidentNTFSDataRunList::SetResidentRun(uint64_t ullStart, uint64_t ullLength, int32_t nResidentValue)
{
    AppendRun(DATA_RUN(ullStart, ullLength));
    m_nResidentValue = nResidentValue;
}
