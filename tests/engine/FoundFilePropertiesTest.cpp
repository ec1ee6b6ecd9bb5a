// The saved records of every kind of found-file properties: a record built here field by field,
// as the result store keeps it, loads, answers its fields, and saves back to the same bytes; every
// record cut short fails to load and leaves the properties as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MemoryDataStream.h"
#include "RAWFileProperties.h"
#include "ext2/Ext2FileProperties.h"
#include "fat/FATFileProperties.h"
#include "ntfs/NTFSFileProperties.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void Put(Bytes* pBytes, uint64_t ullValue, size_t nWidth)
{
    for (size_t i = 0; i < nWidth; ++i)
        pBytes->push_back(static_cast<uint8_t>(ullValue >> (8 * i)));
}

void PutText(Bytes* pBytes, const std::string& strText)
{
    pBytes->insert(pBytes->end(), strText.begin(), strText.end());
}

const uint64_t kSize = 0x0102030405060708ull;
const uint16_t kAttributes = 0x0021;
const uint64_t kCreation = 0x01D0000000000001ull;
const uint64_t kModification = 0x01D0000000000002ull;
const uint64_t kAccess = 0x01D0000000000003ull;
const uint8_t kStatus = 1;

// Packed runs: length (u32), one mapping pair (8 clusters at 100) and its end, resident value (u16).
void PutRuns(Bytes* pBytes)
{
    Put(pBytes, 4, 4);
    pBytes->insert(pBytes->end(), {0x11, 0x08, 0x64, 0x00});
    Put(pBytes, 0, 2);
}

// What the three file systems that keep times write first.
void PutLeadingFields(Bytes* pBytes, const std::string& strName)
{
    Put(pBytes, strName.size(), 2);
    PutText(pBytes, strName);
    Put(pBytes, kSize, 8);
    Put(pBytes, kAttributes, 2);
    Put(pBytes, kCreation, 8);
    Put(pBytes, kModification, 8);
    Put(pBytes, kAccess, 8);
    Put(pBytes, kStatus, 1);
}

struct RECORD_CASE {
    const char* pszKind;
    std::function<IFileProperties*()> fnCreate;
    Bytes record;
    std::string strName;
    bool bTimes;
};

std::vector<RECORD_CASE> RecordCases()
{
    std::vector<RECORD_CASE> cases;
    {
        Bytes b;
        PutLeadingFields(&b, "report.doc");
        Put(&b, 7, 4);  // first cluster
        Put(&b, 3, 4);  // parent cluster
        Put(&b, 1, 4);  // runs present
        PutRuns(&b);
        cases.push_back({"FAT", [] { return CFATFileProperties::Create(); }, b, "report.doc", true});
    }
    {
        Bytes b;
        PutLeadingFields(&b, "notes.txt");
        Put(&b, 1, 4);  // runs present
        PutRuns(&b);
        cases.push_back({"EXT2", [] { return new CExt2FileProperties(); }, b, "notes.txt", true});
    }
    {
        Bytes b;
        PutLeadingFields(&b, "photo.jpg");
        Put(&b, 0x5000, 8);  // record sector
        Put(&b, 1, 4);       // runs present
        PutRuns(&b);
        Put(&b, 1, 8);  // extension records
        Put(&b, 0x5010, 8);
        Put(&b, 42, 8);
        cases.push_back({"NTFS", [] { return new CNTFSFileProperties(); }, b, "photo.jpg", true});
    }
    {
        Bytes b;
        Put(&b, 9, 1);  // name length with its terminator
        PutText(&b, std::string("carved.z", 9));
        Put(&b, kSize, 8);
        Put(&b, kAttributes, 2);
        Put(&b, kStatus, 1);
        PutRuns(&b);
        cases.push_back({"RAW", [] { return CRAWFileProperties::Create(); }, b, "carved.z", false});
    }
    return cases;
}

Bytes Saved(IFileProperties* pProperties)
{
    CMemoryDataStream stream;
    EXPECT_TRUE(pProperties->Save(&stream));
    return stream.GetData();
}

uint64_t Ticks(IFileProperties* pProperties, void (IFileProperties::*fnGet)(FILETIME*))
{
    FILETIME time{~0ull};
    (pProperties->*fnGet)(&time);
    return time.qwTicks;
}

} // namespace

TEST(FoundFileProperties, EachKindLoadsAndSavesItsRecordByteForByte)
{
    for (const RECORD_CASE& c : RecordCases()) {
        SCOPED_TRACE(c.pszKind);
        std::unique_ptr<IFileProperties> pProperties(c.fnCreate());
        pProperties->SetCheckState(CHECK_STATE_SELECTED);
        pProperties->SetFlag(1);
        CMemoryDataStream stream(c.record);
        ASSERT_TRUE(pProperties->Load(&stream));
        EXPECT_EQ(stream.GetRemaining(), 0u);
        EXPECT_STREQ(pProperties->GetName(), c.strName.c_str());
        EXPECT_EQ(pProperties->GetSize(), kSize);
        EXPECT_EQ(pProperties->GetAttributes(), kAttributes);
        EXPECT_EQ(pProperties->GetStatus(), kStatus);
        EXPECT_EQ(pProperties->GetCheckState(), CHECK_STATE_NONE);
        EXPECT_EQ(pProperties->GetFlag(), 0);
        EXPECT_EQ(Ticks(pProperties.get(), &IFileProperties::GetCreationTime), c.bTimes ? kCreation : 0);
        EXPECT_EQ(Ticks(pProperties.get(), &IFileProperties::GetModificationTime), c.bTimes ? kModification : 0);
        EXPECT_EQ(Ticks(pProperties.get(), &IFileProperties::GetAccessTime), c.bTimes ? kAccess : 0);
        std::unique_ptr<IDataRunList> pRuns(pProperties->GetDataRunList());
        ASSERT_NE(pRuns, nullptr);
        ASSERT_EQ(pRuns->GetRunCount(), 1u);
        EXPECT_EQ(pRuns->GetRun(0).ullStart, 100u);
        EXPECT_EQ(pRuns->GetRun(0).ullLength, 8u);
        EXPECT_EQ(Saved(pProperties.get()), c.record);
    }
}

TEST(FoundFileProperties, ARecordCutShortLeavesThePropertiesAsTheyWere)
{
    for (const RECORD_CASE& c : RecordCases()) {
        SCOPED_TRACE(c.pszKind);
        std::unique_ptr<IFileProperties> pProperties(c.fnCreate());
        CMemoryDataStream whole(c.record);
        ASSERT_TRUE(pProperties->Load(&whole));
        for (size_t nCut = 0; nCut < c.record.size(); ++nCut) {
            CMemoryDataStream part(c.record.data(), nCut);
            EXPECT_FALSE(pProperties->Load(&part)) << "cut at " << nCut;
        }
        EXPECT_EQ(Saved(pProperties.get()), c.record);
    }
}

namespace {

// A saved record of one kind with the given name and packed-runs record (length, string,
// resident value); the other fields as above.
Bytes RecordWith(const std::string& strKind, const std::string& strName, const Bytes& runsRecord)
{
    Bytes b;
    if (strKind == "RAW") {
        Put(&b, strName.size() + 1, 1);
        PutText(&b, strName);
        Put(&b, 0, 1);
        Put(&b, kSize, 8);
        Put(&b, kAttributes, 2);
        Put(&b, kStatus, 1);
        b.insert(b.end(), runsRecord.begin(), runsRecord.end());
        return b;
    }
    PutLeadingFields(&b, strName);
    if (strKind == "FAT") {
        Put(&b, 7, 4);
        Put(&b, 3, 4);
    } else if (strKind == "NTFS") {
        Put(&b, 0x5000, 8);
    }
    Put(&b, 1, 4);  // runs present
    b.insert(b.end(), runsRecord.begin(), runsRecord.end());
    if (strKind == "NTFS")
        Put(&b, 0, 8);  // no extension records
    return b;
}

IFileProperties* CreateKind(const std::string& strKind)
{
    if (strKind == "FAT")
        return CFATFileProperties::Create();
    if (strKind == "EXT2")
        return new CExt2FileProperties();
    if (strKind == "NTFS")
        return new CNTFSFileProperties();
    return CRAWFileProperties::Create();
}

Bytes RunsRecord(const Bytes& packed, uint16_t nResidentValue)
{
    Bytes b;
    Put(&b, packed.size(), 4);
    b.insert(b.end(), packed.begin(), packed.end());
    Put(&b, nResidentValue, 2);
    return b;
}

// What a list answers, as text, for comparing two lists.
std::string Describe(IDataRunList* pList)
{
    if (pList == nullptr)
        return "none";
    std::string str = std::to_string(pList->GetType()) + "/" + std::to_string(pList->GetResidentValue()) + ":";
    for (size_t i = 0; i < pList->GetRunCount(); ++i)
        str += " " + std::to_string(pList->GetRun(i).ullStart) + "+" + std::to_string(pList->GetRun(i).ullLength);
    delete pList;
    return str;
}

// GetNonResidentRuns against GetDataRunList: the runs of every non-resident list, nothing where
// there is no list, and no answer where the list is resident.
void ExpectRunsListedAsTheListHasThem(IFileProperties* pProperties)
{
    std::unique_ptr<IDataRunList> pList(pProperties->GetDataRunList());
    std::vector<DATA_RUN> runs = {DATA_RUN(1, 1)};  // left over from an earlier file
    const bool bAnswered = pProperties->GetNonResidentRuns(&runs) != FALSE;
    if (pList != nullptr && pList->IsResident()) {
        EXPECT_FALSE(bAnswered);
        EXPECT_EQ(runs.size(), 1u);
        return;
    }
    std::vector<DATA_RUN> expected;
    for (size_t i = 0; pList != nullptr && i < pList->GetRunCount(); ++i)
        expected.push_back(pList->GetRun(i));
    if (pList != nullptr)
        ASSERT_TRUE(bAnswered);
    if (bAnswered)
        EXPECT_EQ(runs, expected);
}

} // namespace

// Names and run strings short enough to be held in the properties object itself and long enough
// to need their own blocks, on either side of each limit: the record saves back byte for byte and
// the name and the runs read as a stand-alone packed record gives them.
TEST(FoundFileProperties, NamesAndRunsOfEveryLengthKeepTheirRecords)
{
    const std::vector<std::string> names = {"", "a", std::string(14, 'n'), std::string(15, 'n'),
                                            std::string(16, 'n'), std::string(17, 'n'), std::string(200, 'x')};
    struct RUNS_CASE {
        Bytes packed;
        uint16_t nResidentValue;
    };
    const std::vector<RUNS_CASE> runs = {
        {{0x00}, 0},                                                          // only the end
        {{0x11, 0x08, 0x64, 0x00}, 0},                                        // one short run
        {{0x51, 0x08, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00}, 0},                // 8 bytes
        {{0x61, 0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00}, 0},          // 9 bytes
        {{0x11, 0x08, 0x64, 0x01, 0x04, 0x11, 0x02, 0x10, 0x00}, 0},          // a run, a hole, a run
        {{0x11, 0x01, 0x30, 0x00}, 0x0188},                                   // resident data
        {{}, 0x0042},                                                         // no string
        {{}, 0},
    };
    for (const char* pszKind : {"FAT", "EXT2", "NTFS", "RAW"}) {
        for (const std::string& strName : names) {
            for (size_t r = 0; r < runs.size(); ++r) {
                SCOPED_TRACE(std::string(pszKind) + " name of " + std::to_string(strName.size()) + ", runs case " +
                             std::to_string(r));
                const Bytes runsRecord = RunsRecord(runs[r].packed, runs[r].nResidentValue);
                const Bytes record = RecordWith(pszKind, strName, runsRecord);
                std::unique_ptr<IFileProperties> pProperties(CreateKind(pszKind));
                CMemoryDataStream stream(record);
                ASSERT_TRUE(pProperties->Load(&stream));
                EXPECT_EQ(Saved(pProperties.get()), record);
                EXPECT_EQ(std::string(pProperties->GetName()), strName);
                EXPECT_EQ(pProperties->GetNameLength(),
                          static_cast<int32_t>(strName.size()) + (std::string(pszKind) == "RAW" ? 1 : 0));
                CMemoryDataStream runsStream(runsRecord);
                std::unique_ptr<PACKED_DATA_RUNS> pReference(LoadPackedDataRuns(&runsStream));
                ASSERT_NE(pReference, nullptr);
                EXPECT_EQ(Describe(pProperties->GetDataRunList()), Describe(pReference->CreateDataRunList()));
                ExpectRunsListedAsTheListHasThem(pProperties.get());
            }
        }
    }
}

// Runs packed by the properties, from an array or from a list, save and unpack as the same runs
// packed into a record, whether they fit in the object or not; a name set from its own bytes is
// kept whole.
TEST(FoundFileProperties, RunsPackedInPlaceSaveAsARecordDoes)
{
    std::vector<DATA_RUN> runs;
    for (uint64_t n = 0; n < 6; ++n) {
        SCOPED_TRACE(runs.size());
        CExt2FileProperties fromArray, fromList, viaRecord;
        fromArray.SetRuns(runs.data(), runs.size());
        CExt2DataRunList* pList = new CExt2DataRunList();
        for (const DATA_RUN& run : runs)
            pList->AddRun(run);
        viaRecord.SetPackedRuns(PackDataRunList(pList));
        fromList.SetDataRunList(pList);
        const Bytes expected = Saved(&viaRecord);
        EXPECT_EQ(Saved(&fromArray), expected);
        EXPECT_EQ(Saved(&fromList), expected);
        const std::string strRuns = Describe(viaRecord.GetDataRunList());
        EXPECT_EQ(Describe(fromArray.GetDataRunList()), strRuns);
        EXPECT_EQ(Describe(fromList.GetDataRunList()), strRuns);
        for (CExt2FileProperties* pProperties : {&fromArray, &fromList, &viaRecord})
            ExpectRunsListedAsTheListHasThem(pProperties);
        runs.push_back(DATA_RUN(1000 + 300 * n * n, n + 1));
    }
    for (size_t nLength : {12u, 15u, 20u}) {
        CExt2FileProperties props;
        const std::string strName(nLength, 'q');
        props.SetName(strName.c_str(), strName.size());
        props.SetName(props.GetName() + 1, nLength - 1);
        EXPECT_EQ(std::string(props.GetName()), strName.substr(1));
    }
}
