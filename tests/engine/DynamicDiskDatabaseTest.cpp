// The dynamic-disk database: assembling VBLK records from their blocks, the variable-length
// fields, linking, the volume rules and the size of a volume. Sound databases come from the
// fixture sets; damaged ones are the fixture's database with one thing broken, or areas built
// block by block below where a case needs a shape no real database has.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DynamicDiskTestSupport.h"
#include "DynamicVolumeDevice.h"
#include "LdmDatabase.h"
#include "LdmDatabaseReader.h"

namespace {

// ----- areas built block by block ----------------------------------------------------------------

typedef std::vector<uint8_t> Bytes;

Bytes VarNum(uint64_t u64Value)
{
    Bytes body;
    do {
        body.insert(body.begin(), static_cast<uint8_t>(u64Value));
        u64Value >>= 8;
    } while (u64Value != 0);
    body.insert(body.begin(), static_cast<uint8_t>(body.size()));
    return body;
}

Bytes VarStr(const std::string& strText)
{
    Bytes body(1 + strText.size());
    body[0] = static_cast<uint8_t>(strText.size());
    std::copy(strText.begin(), strText.end(), body.begin() + 1);
    return body;
}

Bytes Zeros(size_t n)
{
    return Bytes(n, 0);
}

Bytes Be64(uint64_t u64Value)
{
    Bytes out(8);
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(u64Value >> (56 - 8 * i));
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Record bodies laid out as the database writes them (make-dynamic.py writes the same).
Bytes VolumeBody(uint64_t u64Id, const std::string& strName, uint8_t byType, uint64_t u64Children,
                 uint64_t u64Sectors)
{
    return Cat({VarNum(u64Id), VarStr(strName), VarStr("gen"), Zeros(1), Zeros(14), Bytes(1, byType), Zeros(6),
                VarNum(u64Children), Zeros(16), VarNum(u64Sectors), Zeros(4), Bytes(1, 0x07), Bytes(16, 0xAB)});
}

Bytes ComponentBody(uint64_t u64Id, uint8_t byType, uint64_t u64Children, uint64_t u64Parent)
{
    return Cat({VarNum(u64Id), VarStr("Volume1-01"), VarStr("ACTIVE"), Bytes(1, byType), Zeros(4),
                VarNum(u64Children), Zeros(16), VarNum(u64Parent), Zeros(1)});
}

Bytes PartitionBody(uint64_t u64Id, uint64_t u64Start, uint64_t u64Offset, uint64_t u64Sectors, uint64_t u64Parent,
                    uint64_t u64Disk, uint64_t u64Index)
{
    return Cat({VarNum(u64Id), VarStr("Disk1-01"), Zeros(12), Be64(u64Start), Be64(u64Offset), VarNum(u64Sectors),
                VarNum(u64Parent), VarNum(u64Disk), VarNum(u64Index)});
}

Bytes DiskBody(uint64_t u64Id, const std::string& strGuid)
{
    return Cat({VarNum(u64Id), VarStr("Disk1"), VarStr(strGuid), VarStr("")});
}

class CArea {
public:
    // One block as it stands; the record head fields are written only into first blocks.
    void Block(uint32_t nGroup, uint16_t nNumber, uint16_t nCount, const Bytes& data, size_t nDataOffset)
    {
        Bytes block(128, 0);
        memcpy(block.data(), "VBLK", 4);
        Put32(block.data() + 8, nGroup);
        block[12] = static_cast<uint8_t>(nNumber >> 8);
        block[13] = static_cast<uint8_t>(nNumber);
        block[14] = static_cast<uint8_t>(nCount >> 8);
        block[15] = static_cast<uint8_t>(nCount);
        memcpy(block.data() + nDataOffset, data.data(), std::min(data.size(), 128 - nDataOffset));
        m_Area.insert(m_Area.end(), block.begin(), block.end());
    }

    // A whole record cut into blocks: data length and block count as they should be, unless given.
    void Record(uint32_t nGroup, uint8_t byType, uint8_t byFlags, const Bytes& body, int nCount = -1,
                int64_t nLength = -1)
    {
        const size_t nBlocks = body.size() <= 104 ? 1 : 1 + (body.size() - 104 + 111) / 112;
        const uint16_t nHeadCount = static_cast<uint16_t>(nCount >= 0 ? nCount : static_cast<int>(nBlocks));
        Bytes head(8, 0);
        head[2] = byFlags;
        head[3] = byType;
        Put32(head.data() + 4, static_cast<uint32_t>(nLength >= 0 ? nLength : static_cast<int64_t>(body.size())));
        Bytes stream = Cat({head, body});
        for (size_t i = 0; i < nBlocks; ++i) {
            const Bytes piece(stream.begin() + static_cast<long>(std::min(stream.size(), i * 112)),
                              stream.begin() + static_cast<long>(std::min(stream.size(), (i + 1) * 112)));
            Block(nGroup, static_cast<uint16_t>(i), nHeadCount, piece, 16);
        }
    }

    const Bytes& Data() const { return m_Area; }

    static void Put32(uint8_t* p, uint32_t n)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
    }

private:
    Bytes m_Area;
};

// A volume of one simple component with one partition on one disk: ids 1 (volume), 2, 3, 4.
CArea SimpleVolumeArea()
{
    CArea area;
    area.Record(1, VBLK_TYPE_DISK, 0, DiskBody(4, "5241564e-0000-0000-0000-000000000001"));
    area.Record(2, VBLK_TYPE_VOLUME, 0, VolumeBody(1, "Volume1", LDM_VOLUME_PLAIN, 1, 100));
    area.Record(3, VBLK_TYPE_COMPONENT, 0, ComponentBody(2, LDM_COMPONENT_SPANNED, 1, 1));
    area.Record(4, VBLK_TYPE_PARTITION, 0x08, PartitionBody(3, 10, 0, 100, 2, 4, 0));
    return area;
}

// ----- the fixture's database ------------------------------------------------------------------

class FixtureDatabase : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Set = dyntest::ReadDynamicSet("dyn-mbr");
        const dyntest::DynDisk& disk = m_Set.Disk(1);
        m_Area = dyntest::ReadFileRange(rvdtest::FixturePath(disk.strImage), disk.u64DatabaseStart * 512,
                                        LdmDatabaseAreaSectors(disk.u64Sectors, disk.u64DatabaseStart) * 512);
    }

    // Offset of the first block of the record of this type whose name is strName.
    size_t FirstBlockOf(uint8_t byType, const std::string& strName) const
    {
        for (size_t i = 0; i + 128 <= m_Area.size(); i += 128) {
            const uint8_t* p = m_Area.data() + i;
            if (memcmp(p, "VBLK", 4) == 0 && p[12] == 0 && p[13] == 0 && p[19] == byType) {
                // After the variable-length id comes the name.
                const uint8_t* pName = p + 24 + 1 + p[24];
                if (std::string(reinterpret_cast<const char*>(pName + 1), pName[0]) == strName)
                    return i;
            }
        }
        ADD_FAILURE() << "no record named " << strName;
        return 0;
    }

    size_t ContinuationOf(size_t nFirst) const
    {
        for (size_t i = 0; i + 128 <= m_Area.size(); i += 128)
            if (memcmp(m_Area.data() + i, "VBLK", 4) == 0 && memcmp(m_Area.data() + i + 8, m_Area.data() + nFirst + 8, 4) == 0 &&
                m_Area[i + 12] == 0 && m_Area[i + 13] == 1)
                return i;
        ADD_FAILURE() << "no continuation";
        return 0;
    }

    std::vector<std::string> BuildableVolumes(const Bytes& area) const
    {
        CLdmDatabase database;
        database.Load(area.data(), area.size());
        std::vector<std::string> names;
        for (const LDM_VOLUME_RECORD& v : database.Volumes())
            if (IsBuildableLdmVolume(v))
                names.push_back(v.szName);
        return names;
    }

    dyntest::DynSet m_Set;
    Bytes m_Area;
};

TEST_F(FixtureDatabase, RecordsAreAssembledParsedAndLinked)
{
    CLdmDatabase database;
    database.Load(m_Area.data(), m_Area.size());
    ASSERT_EQ(5u, database.Volumes().size());
    EXPECT_EQ(6u, database.Components().size());
    EXPECT_EQ(11u, database.Partitions().size());
    ASSERT_EQ(3u, database.Disks().size());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_STREQ(m_Set.disks[i].strGuid.c_str(), database.Disks()[i].szDiskId);

    for (const LDM_VOLUME_RECORD& volume : database.Volumes()) {
        SCOPED_TRACE(volume.szName);
        EXPECT_TRUE(IsBuildableLdmVolume(volume));
        const dyntest::DynVolume* pWant = nullptr;
        for (const dyntest::DynVolume& v : m_Set.volumes)
            if (v.strName == volume.szName)
                pWant = &v;
        ASSERT_NE(nullptr, pWant);      // the long name of Volume5 spans two blocks
        EXPECT_EQ(pWant->u64Sectors, volume.u64Sectors);
        EXPECT_EQ(pWant->nPartitionType, volume.byPartitionType);
        EXPECT_EQ(pWant->strHint, volume.szHint);
        char szPath[64];
        GetVolumeGuidPath(volume.aGuid, szPath, sizeof(szPath));
        EXPECT_EQ(pWant->strGuidPath, szPath);
        size_t nPartitions = 0;
        for (const LDM_COMPONENT_RECORD* pComponent : volume.components)
            nPartitions += pComponent->partitions.size();
        EXPECT_EQ(pWant->extents.size(), nPartitions);
    }

    // The spanned volume's partitions were written last first; linking puts each at the front.
    const LDM_VOLUME_RECORD& spanned = database.Volumes()[1];
    ASSERT_EQ(1u, spanned.components.size());
    std::vector<uint64_t> offsets;
    for (const LDM_PARTITION_RECORD* p : spanned.components.front()->partitions)
        offsets.push_back(p->u64VolumeOffset);
    EXPECT_EQ((std::vector<uint64_t>{0, 9000, 22000}), offsets);
    EXPECT_STREQ(m_Set.disks[1].strGuid.c_str(), (*std::next(spanned.components.front()->partitions.begin()))->pDisk->szDiskId);
    // The mirror's second component comes first.
    const LDM_VOLUME_RECORD& mirror = database.Volumes()[3];
    ASSERT_EQ(2u, mirror.components.size());
    EXPECT_STREQ("Volume4-02", mirror.components.front()->szName);
    EXPECT_EQ(2u, mirror.u64Children);
}

TEST_F(FixtureDatabase, DamagedRecordsAreLeftOut)
{
    const std::string strRaid = m_Set.Volume(DYNAMIC_KIND_RAID5).strName;
    const size_t nRaid = FirstBlockOf(VBLK_TYPE_VOLUME, strRaid);
    const size_t nRaidNext = ContinuationOf(nRaid);
    const size_t nSimple = FirstBlockOf(VBLK_TYPE_VOLUME, "Volume1");
    const size_t nSimplePart = FirstBlockOf(VBLK_TYPE_PARTITION, "Disk1-01");
    struct DAMAGE {
        const char* pszWhat;
        size_t nOffset;
        Bytes bytes;
        const char* pszLost;    // the volume that no longer can be built
    };
    const DAMAGE aCases[] = {
        {"continuation without its signature", nRaidNext, {'X'}, strRaid.c_str()},
        {"first block without its signature", nRaid, {'V', 'B', 'L', 'X'}, strRaid.c_str()},
        {"continuation numbered 2", nRaidNext + 12, {0, 2}, strRaid.c_str()},
        {"continuation of another group", nRaidNext + 8, {0, 0, 0x7F, 0x7F}, strRaid.c_str()},
        {"record claims one block but more data", nRaid + 14, {0, 1}, strRaid.c_str()},
        {"huge data length", nSimple + 20, {0xFF, 0xFF, 0xFF, 0xFF}, "Volume1"},
        {"huge block count", nRaid + 14, {0xFF, 0xFF}, strRaid.c_str()},
        {"huge data length in a two-block record", nRaid + 20, {0xFF, 0xFF, 0xFF, 0xF0}, strRaid.c_str()},
        {"data length short of the record's fields", nSimple + 20, {0, 0, 0, 30}, "Volume1"},
        {"partition too short for its fields", nSimplePart + 20, {0, 0, 0, 20}, "Volume1"},
        {"record number not 0 in a one-block record", nSimple + 12, {0, 1}, "Volume1"},
    };
    for (const DAMAGE& d : aCases) {
        SCOPED_TRACE(d.pszWhat);
        Bytes area = m_Area;
        std::copy(d.bytes.begin(), d.bytes.end(), area.begin() + static_cast<long>(d.nOffset));
        const auto start = std::chrono::steady_clock::now();
        const std::vector<std::string> names = BuildableVolumes(area);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(4u, names.size());
        EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), d.pszLost));
    }
    // The whole area cut anywhere, even inside a block, gives what its whole blocks hold.
    for (size_t nCut : {size_t(0), size_t(1), size_t(127), size_t(129), nRaidNext, nRaidNext + 64, m_Area.size() - 1}) {
        CLdmDatabase database;
        database.Load(m_Area.data(), nCut);
        EXPECT_LE(database.Volumes().size(), 5u);
    }
}

TEST(VblkRecords, ContinuationBlocksCompleteARecord)
{
    // Data length 200: the first block's 104 bytes and 96 of one further block.
    Bytes body(200);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i);
    for (bool bWithContinuation : {true, false}) {
        CArea area;
        area.Record(9, 0x99, 0, body);
        Bytes data = area.Data();
        if (!bWithContinuation)
            data.resize(128);
        CVblkRecordList records;
        AssembleVblkRecords(data.data(), data.size(), records);
        if (!bWithContinuation) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(200u, records[0].nDataLength);
        ASSERT_EQ(224u, records[0].bytes.size());
        EXPECT_EQ(0, memcmp(records[0].bytes.data() + 24, body.data(), body.size()));
        EXPECT_EQ(0x99, records[0].byType);
    }
}

TEST(VblkRecords, BlocksMayComeInAnyOrderButEachGroupOnce)
{
    Bytes body(250, 0x5A);
    CArea ordered;
    ordered.Record(3, 0x99, 0, body);   // three blocks
    const Bytes& d = ordered.Data();
    // Further blocks before the first, and a second record claiming group 3.
    Bytes area(d.begin() + 256, d.end());
    area.insert(area.end(), d.begin() + 128, d.begin() + 256);
    area.insert(area.end(), d.begin(), d.begin() + 128);
    CArea other;
    other.Record(3, 0x98, 0, Bytes(20, 1));
    area.insert(area.end(), other.Data().begin(), other.Data().end());
    CVblkRecordList records;
    AssembleVblkRecords(area.data(), area.size(), records);
    // Continuations are taken in area order by their numbers: 2 then 1 does not make 1, 2.
    EXPECT_TRUE(records.empty());

    Bytes inOrder(d.begin() + 128, d.end());
    inOrder.insert(inOrder.end(), d.begin(), d.begin() + 128);
    inOrder.insert(inOrder.end(), other.Data().begin(), other.Data().end());
    records.clear();
    AssembleVblkRecords(inOrder.data(), inOrder.size(), records);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(0x99, records[0].byType);
    EXPECT_EQ(Bytes(250, 0x5A), Bytes(records[0].bytes.begin() + 24, records[0].bytes.end()));
}

TEST(VblkRecords, VariableLengthFields)
{
    struct NUMBER_CASE {
        Bytes data;
        uint64_t u64Value;
        size_t nConsumed;
    };
    const NUMBER_CASE aNumbers[] = {
        {{1, 0x2A, 0xEE}, 0x2A, 2},
        {{3, 0x01, 0x02, 0x03}, 0x010203, 4},
        {{0, 0x2A}, UINT64_MAX, 1},                                  // length 0
        {{9, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8}, 0x0102030405060708, 10},  // the low 64 bits
        {{65, 1, 2}, UINT64_MAX, 1},                                 // longer than 64
        {{4, 1, 2}, UINT64_MAX, 1},                                  // beyond the record
    };
    for (const NUMBER_CASE& c : aNumbers) {
        CVblkFieldReader reader(c.data.data(), c.data.size());
        EXPECT_EQ(c.u64Value, reader.VarNumber());
        EXPECT_EQ(c.nConsumed, reader.Position());
        EXPECT_FALSE(reader.Overrun());
    }
    const Bytes none;
    CVblkFieldReader empty(none.data(), 0);
    EXPECT_EQ(UINT64_MAX, empty.VarNumber());
    EXPECT_TRUE(empty.Overrun());

    char szOut[8];
    const Bytes text = {5, 'h', 'e', 'l', 'l', 'o', 3, 'a', 'b', 'c', 0, 20, 'x'};
    CVblkFieldReader reader(text.data(), text.size());
    reader.VarString(szOut, 4);          // cut to the buffer
    EXPECT_STREQ("hel", szOut);
    reader.VarString(szOut, sizeof(szOut));
    EXPECT_STREQ("abc", szOut);
    reader.VarString(szOut, sizeof(szOut));   // length 0
    EXPECT_STREQ("", szOut);
    EXPECT_EQ(11u, reader.Position());
    reader.VarString(szOut, sizeof(szOut));   // 20 characters announced, 1 left
    EXPECT_STREQ("", szOut);
    EXPECT_EQ(12u, reader.Position());
    reader.Skip(2);
    EXPECT_TRUE(reader.Overrun());
}

TEST(VblkRecords, VolumeRecordWithANumberTextAfterItsType)
{
    // Some databases hold a text such as "8000000000000000" where others hold a single 0 byte;
    // the fields after it are found either way.
    Bytes body = Cat({VarNum(1), VarStr("Volume1"), VarStr("gen"), VarStr("8000000000000000"), Zeros(14),
                      Bytes(1, LDM_VOLUME_PLAIN), Zeros(6), VarNum(1), Zeros(16), VarNum(4242), Zeros(4),
                      Bytes(1, 0x07), Bytes(16, 0xAB), VarStr("E:")});
    CArea area;
    area.Record(1, VBLK_TYPE_VOLUME, 0x02, body);
    CVblkRecordList records;
    AssembleVblkRecords(area.Data().data(), area.Data().size(), records);
    ASSERT_EQ(1u, records.size());
    LDM_VOLUME_RECORD volume;
    ASSERT_TRUE(ParseVblkVolume(records[0], &volume));
    EXPECT_EQ(4242u, volume.u64Sectors);
    EXPECT_EQ(LDM_VOLUME_PLAIN, volume.byVolumeType);
    EXPECT_EQ(0x07, volume.byPartitionType);
    EXPECT_STREQ("E:", volume.szHint);
}

TEST(VblkRecords, LinksCannotMultiply)
{
    // Damaged ids: three volumes share id 5, 300 components share id 7 with volume 5 as parent,
    // 300 partitions have component 7 as parent. Each component hangs under one volume and each
    // partition under one component, whatever the count.
    CArea area;
    uint32_t nGroup = 1;
    area.Record(nGroup++, VBLK_TYPE_DISK, 0, DiskBody(4, "5241564e-0000-0000-0000-000000000001"));
    for (int i = 0; i < 3; ++i)
        area.Record(nGroup++, VBLK_TYPE_VOLUME, 0, VolumeBody(5, "Volume" + std::to_string(i), LDM_VOLUME_PLAIN, 1, 100));
    for (int i = 0; i < 300; ++i)
        area.Record(nGroup++, VBLK_TYPE_COMPONENT, 0, ComponentBody(7, LDM_COMPONENT_SPANNED, 1, 5));
    for (int i = 0; i < 300; ++i)
        area.Record(nGroup++, VBLK_TYPE_PARTITION, 0x08, PartitionBody(7, 10, 0, 100, 7, 4, 0));
    // A component that is its own parent, a partition whose parent is a partition.
    area.Record(nGroup++, VBLK_TYPE_COMPONENT, 0, ComponentBody(9, LDM_COMPONENT_SPANNED, 1, 9));
    area.Record(nGroup++, VBLK_TYPE_PARTITION, 0x08, PartitionBody(11, 10, 0, 100, 11, 4, 0));
    CLdmDatabase database;
    database.Load(area.Data().data(), area.Data().size());
    ASSERT_EQ(3u, database.Volumes().size());
    EXPECT_EQ(300u, database.Volumes()[0].components.size());
    EXPECT_TRUE(database.Volumes()[1].components.empty());
    EXPECT_TRUE(database.Volumes()[2].components.empty());
    size_t nLinks = 0;
    for (const LDM_COMPONENT_RECORD& c : database.Components())
        nLinks += c.partitions.size();
    EXPECT_EQ(300u, nLinks);
    EXPECT_EQ(300u, database.Components()[0].partitions.size());
}

TEST(VblkRecords, VolumeRules)
{
    CLdmDatabase database;
    const CArea sound = SimpleVolumeArea();
    database.Load(sound.Data().data(), sound.Data().size());
    ASSERT_EQ(1u, database.Volumes().size());
    EXPECT_TRUE(IsBuildableLdmVolume(database.Volumes()[0]));

    struct RULE_CASE {
        const char* pszWhat;
        CArea area;
    };
    std::vector<RULE_CASE> cases;
    cases.push_back({"volume type 5", CArea()});
    cases.back().area.Record(1, VBLK_TYPE_DISK, 0, DiskBody(4, "x"));
    cases.back().area.Record(2, VBLK_TYPE_VOLUME, 0, VolumeBody(1, "V", 5, 1, 100));
    cases.back().area.Record(3, VBLK_TYPE_COMPONENT, 0, ComponentBody(2, LDM_COMPONENT_SPANNED, 1, 1));
    cases.back().area.Record(4, VBLK_TYPE_PARTITION, 0x08, PartitionBody(3, 10, 0, 100, 2, 4, 0));
    cases.push_back({"no component", CArea()});
    cases.back().area.Record(2, VBLK_TYPE_VOLUME, 0, VolumeBody(1, "V", LDM_VOLUME_PLAIN, 1, 100));
    cases.push_back({"component of type 4", CArea()});
    cases.back().area.Record(1, VBLK_TYPE_DISK, 0, DiskBody(4, "x"));
    cases.back().area.Record(2, VBLK_TYPE_VOLUME, 0, VolumeBody(1, "V", LDM_VOLUME_PLAIN, 1, 100));
    cases.back().area.Record(3, VBLK_TYPE_COMPONENT, 0, ComponentBody(2, 4, 1, 1));
    cases.back().area.Record(4, VBLK_TYPE_PARTITION, 0x08, PartitionBody(3, 10, 0, 100, 2, 4, 0));
    cases.push_back({"component without partitions", CArea()});
    cases.back().area.Record(2, VBLK_TYPE_VOLUME, 0, VolumeBody(1, "V", LDM_VOLUME_PLAIN, 1, 100));
    cases.back().area.Record(3, VBLK_TYPE_COMPONENT, 0, ComponentBody(2, LDM_COMPONENT_SPANNED, 1, 1));
    cases.push_back({"partition without a disk record", CArea()});
    cases.back().area.Record(2, VBLK_TYPE_VOLUME, 0, VolumeBody(1, "V", LDM_VOLUME_PLAIN, 1, 100));
    cases.back().area.Record(3, VBLK_TYPE_COMPONENT, 0, ComponentBody(2, LDM_COMPONENT_SPANNED, 1, 1));
    cases.back().area.Record(4, VBLK_TYPE_PARTITION, 0x08, PartitionBody(3, 10, 0, 100, 2, 4, 0));
    for (const RULE_CASE& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        database.Load(c.area.Data().data(), c.area.Data().size());
        ASSERT_EQ(1u, database.Volumes().size());
        EXPECT_FALSE(IsBuildableLdmVolume(database.Volumes()[0]));
    }
}

TEST(VblkRecords, DatabaseAreaLength)
{
    EXPECT_EQ(998u, LdmDatabaseAreaSectors(100000, 99000));
    EXPECT_EQ(2048u, LdmDatabaseAreaSectors(100000, 34));
    EXPECT_EQ(2046u, LdmDatabaseAreaSectors(100000, 100000 - 2048));
    EXPECT_EQ(0u, LdmDatabaseAreaSectors(100000, 99998));
    EXPECT_EQ(0u, LdmDatabaseAreaSectors(100000, 100000));
    EXPECT_EQ(0u, LdmDatabaseAreaSectors(100000, UINT64_MAX));
    EXPECT_EQ(0u, LdmDatabaseAreaSectors(0, 0));
}

TEST(VblkRecords, ExtentOrderAndGuidPath)
{
    LDM_EXTENT a, b, c;
    memset(&a, 0, sizeof(a));
    b = a;
    c = a;
    a.u64VolumeOffset = 100;
    b.nPartitionIndex = 2;
    c.nPartitionIndex = 1;
    std::vector<LDM_EXTENT*> order = {&a, &b, &c};
    std::sort(order.begin(), order.end(), LdmExtentBefore);
    EXPECT_EQ((std::vector<LDM_EXTENT*>{&c, &b, &a}), order);

    const uint8_t aGuid[16] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                               0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0xF0};
    char szPath[64];
    GetVolumeGuidPath(aGuid, szPath, sizeof(szPath));
    EXPECT_STREQ("\\\\?\\Volume{01020304-0506-0708-090a-0b0c0d0e0ff0}\\", szPath);
}

// A disk in memory: the sectors it is given, zeros elsewhere.
class CMemoryDisk : public IStorageDevice {
public:
    CMemoryDisk(uint64_t u64Sectors, const Bytes& sector0) : m_u64Sectors(u64Sectors), m_Sector0(sector0) {}
    int ReadSectors(void* pBuffer, uint64_t u64Start, uint64_t u64Count) override
    {
        memset(pBuffer, 0, u64Count * 512);
        if (u64Start >= m_u64Sectors)
            return 0;
        if (u64Start == 0)
            memcpy(pBuffer, m_Sector0.data(), 512);
        return 1;
    }
    uint64_t GetTotalSectors() override { return m_u64Sectors; }
    int GetSectorSize() override { return 512; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    uint64_t m_u64Sectors;
    Bytes m_Sector0;
};

TEST(VblkRecords, VolumeSizeAndKindBeforeTheDeviceIsMade)
{
    auto bootSector = [](const char* pszImage) { return dyntest::ReadFileRange(rvdtest::FixturePath(pszImage), 0, 512); };
    struct SIZE_CASE {
        const char* pszWhat;
        int nKind;
        const char* pszImage;       // boot sector at the first extent
        bool bMissing;              // the last extent's disk is missing
        uint8_t byPartitionType;
        uint64_t u64Size;
        uint32_t nFsKind;
    };
    const SIZE_CASE aCases[] = {
        {"RAID-5 of three 1000-sector columns", DYNAMIC_KIND_RAID5, "fat32.img", false, 0x0C, 2000, 2},
        {"spanned, all present", DYNAMIC_KIND_SPANNED, "ntfs.img", false, 0x07, 3000, 3},
        {"missing member, FAT boot sector", DYNAMIC_KIND_RAID5, "fat32.img", true, 0x0C, 81920, 2},
        {"missing member, NTFS boot sector", DYNAMIC_KIND_SPANNED, "ntfs.img", true, 0x07, 32768, 3},
        {"missing member, EXT2 (no size in sector 0)", DYNAMIC_KIND_SPANNED, "ext2-1k-128.img", true, 0x83, 12345, 4},
        {"kind from the partition type when sector 0 says nothing", DYNAMIC_KIND_SPANNED, "ext2-1k-128.img", false,
         0x06, 3000, 1},
    };
    for (const SIZE_CASE& c : aCases) {
        SCOPED_TRACE(c.pszWhat);
        CMemoryDisk first(5000, bootSector(c.pszImage));
        CMemoryDisk other(5000, Bytes(512, 0));
        LDM_EXTENT extents[3];
        memset(extents, 0, sizeof(extents));
        CLdmExtentList list;
        for (int i = 0; i < 3; ++i) {
            extents[i].u64Length = 1000;
            extents[i].pDisk = i == 0 ? &first : (i == 2 && c.bMissing ? nullptr : &other);
            list.push_back(&extents[i]);
        }
        LDM_VOLUME_RECORD volume;
        memset(volume.szName, 0, sizeof(volume.szName));
        volume.u64Sectors = 12345;
        volume.byPartitionType = c.byPartitionType;
        DYNAMIC_VOLUME_DESC desc;
        memset(&desc, 0, sizeof(desc));
        SettleVolumeSize(c.nKind, volume, list, &desc);
        EXPECT_EQ(c.u64Size, desc.u64VolumeSectors);
        EXPECT_EQ(c.nFsKind, desc.nFileSystemKind);
    }
}

} // namespace
