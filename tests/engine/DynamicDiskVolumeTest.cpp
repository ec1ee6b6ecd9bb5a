// Dynamic volumes read end to end from the fixture sets made by make-dynamic.py (three member
// disks each, MBR type 0x42 and GPT): every volume must read back as exactly the file-system
// image that was spread over its members, also with a member missing or failing, and the
// generator's databases must be what libldm's ldmtool reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

#include "DynamicDiskTestSupport.h"
#include "DynamicVolumeDevice.h"
#include "LdmDatabase.h"
#include "PartitionTableAnalyze.h"

using devtest::CDeviceTable;
using devtest::CIgnoreBadSectors;
using dyntest::COpenDisks;
using dyntest::CReadVolumes;
using dyntest::DynSet;
using dyntest::DynVolume;
using dyntest::ReadsBackAs;

namespace {

class DynamicDiskSet : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { m_Set = dyntest::ReadDynamicSet(GetParam()); }
    DynSet m_Set;
};

INSTANTIATE_TEST_SUITE_P(Sets, DynamicDiskSet, ::testing::Values("dyn-mbr", "dyn-gpt"));

TEST(DynamicDiskFixture, LdmtoolReadsWhatTheManifestsSay)
{
    const std::string strCommand = "python3 '" + rvdtest::SourceDir() + "/tests/fixtures/make-dynamic.py' --check '" +
                                   rvdtest::FixtureDir() + "' 2>&1";
    FILE* pPipe = popen(strCommand.c_str(), "r");
    ASSERT_NE(nullptr, pPipe);
    std::string strOutput;
    char szLine[512];
    while (fgets(szLine, sizeof(szLine), pPipe) != nullptr)
        strOutput += szLine;
    const int nStatus = pclose(pPipe);
    ASSERT_TRUE(WIFEXITED(nStatus)) << strOutput;
    if (WEXITSTATUS(nStatus) == 77)
        GTEST_SKIP() << "ldmtool is not installed";
    EXPECT_EQ(0, WEXITSTATUS(nStatus)) << strOutput;
}

TEST_P(DynamicDiskSet, EveryVolumeReadsBackAsItsImage)
{
    CDeviceTable table;
    table.Load(dyntest::DiskLines(m_Set, {1, 2, 3}));
    COpenDisks disks(3);
    CReadVolumes volumes(disks.List());
    // Each member disk holds the whole database: every volume is met three times, listed once.
    ASSERT_EQ(m_Set.volumes.size(), volumes.Size());
    for (const DynVolume& want : m_Set.volumes) {
        SCOPED_TRACE(want.strName);
        DYNAMIC_VOLUME_INFO* pInfo = volumes.Find(want.nKind);
        ASSERT_NE(nullptr, pInfo);
        EXPECT_EQ(want.u64Sectors, pInfo->u64Sectors);
        EXPECT_EQ(dyntest::FsKind(want.strFs), pInfo->nFileSystemKind);
        char szKindName[40];
        GetDynamicVolumeKindName(static_cast<uint32_t>(want.nKind), szKindName, sizeof(szKindName));
        EXPECT_STREQ(szKindName, pInfo->szKindName);
        // Labels are read for FAT and NTFS volumes.
        EXPECT_STREQ(want.strFs == "ext2" ? "" : want.strLabel.c_str(), pInfo->szLabel);
        EXPECT_EQ(0, pInfo->chDriveLetter);
        EXPECT_EQ(static_cast<uint32_t>(dyntest::FsKind(want.strFs)), pInfo->pDevice->GetFileSystemKind());

        CLdmExtentList members;
        pInfo->pDevice->GetMembers(members);
        ASSERT_EQ(want.extents.size(), members.size());
        for (const dyntest::DynExtent& e : want.extents) {
            bool bFound = false;
            for (const LDM_EXTENT* pMember : members)
                bFound |= pMember->pDisk == disks.Disk(static_cast<size_t>(e.nDisk - 1)) &&
                          pMember->u64DiskStart == e.u64Start && pMember->u64Length == e.u64Count &&
                          pMember->u64VolumeOffset == e.u64Offset &&
                          std::string(pMember->szDiskId) == m_Set.Disk(e.nDisk).strGuid;
            EXPECT_TRUE(bFound) << "extent on disk " << e.nDisk << " at " << e.u64Start;
        }
        EXPECT_TRUE(ReadsBackAs(pInfo->pDevice, want.strImage));
    }
    // One read across a whole volume larger than the disk takes at once.
    DYNAMIC_VOLUME_INFO* pRaid = volumes.Find(DYNAMIC_KIND_RAID5);
    ASSERT_NE(nullptr, pRaid);
    EXPECT_TRUE(ReadsBackAs(pRaid->pDevice, m_Set.Volume(DYNAMIC_KIND_RAID5).strImage, 20000));
}

TEST_P(DynamicDiskSet, Raid5WithAMemberMissingIsRebuiltByParity)
{
    CDeviceTable table;
    // Member 3 is gone; the database is read from the other two.
    table.Load(dyntest::DiskLines(m_Set, {1, 2}));
    COpenDisks disks(2);
    CReadVolumes volumes(disks.List());

    const DynVolume& raid = m_Set.Volume(DYNAMIC_KIND_RAID5);
    DYNAMIC_VOLUME_INFO* pRaid = volumes.Find(DYNAMIC_KIND_RAID5);
    ASSERT_NE(nullptr, pRaid);
    // Without all members the size comes from the FAT32 boot sector.
    EXPECT_EQ(raid.u64Sectors, pRaid->u64Sectors);
    EXPECT_STREQ(raid.strLabel.c_str(), pRaid->szLabel);
    EXPECT_TRUE(ReadsBackAs(pRaid->pDevice, raid.strImage));

    // The mirror still has its member on disk 2.
    DYNAMIC_VOLUME_INFO* pMirror = volumes.Find(DYNAMIC_KIND_MIRROR);
    ASSERT_NE(nullptr, pMirror);
    EXPECT_TRUE(ReadsBackAs(pMirror->pDevice, m_Set.Volume(DYNAMIC_KIND_MIRROR).strImage));

    // The spanned EXT2 volume lost its last part: its boot sector holds no size of the file
    // system, so the volume keeps the database's size, and the missing part reads as zeros.
    const DynVolume& spanned = m_Set.Volume(DYNAMIC_KIND_SPANNED);
    DYNAMIC_VOLUME_INFO* pSpanned = volumes.Find(DYNAMIC_KIND_SPANNED);
    ASSERT_NE(nullptr, pSpanned);
    EXPECT_EQ(spanned.u64Sectors, pSpanned->u64Sectors);
    std::vector<uint8_t> vecBuffer(512 * 16, 0xCC);
    EXPECT_EQ(1, pSpanned->pDevice->ReadSectors(vecBuffer.data(), spanned.u64Sectors - 16, 16));
    EXPECT_TRUE(devtest::IsZero(vecBuffer.data(), 16));
}

// Which member an unreadable area is put on, and where in its extent.
struct FAILING_MEMBER {
    int nKind;
    int nComponent;
    int nColumn;
};

TEST_P(DynamicDiskSet, FailingMemberIsReadFromTheOthers)
{
    const FAILING_MEMBER aCases[] = {
        {DYNAMIC_KIND_MIRROR, 0, 0}, {DYNAMIC_KIND_MIRROR, 1, 0}, {DYNAMIC_KIND_RAID5, 0, 0}, {DYNAMIC_KIND_RAID5, 0, 2}};
    // Ignoring bad sectors (the default) answers a plain read of the area with zeros; the
    // volume must still turn to the other members.
    for (int nIgnore : {1, 0}) {
        for (const FAILING_MEMBER& c : aCases) {
            CIgnoreBadSectors ignore(nIgnore);
            const DynVolume& volume = m_Set.Volume(c.nKind);
            const dyntest::DynExtent* pExtent = nullptr;
            for (const dyntest::DynExtent& e : volume.extents)
                if (e.nComponent == c.nComponent && e.nColumn == c.nColumn)
                    pExtent = &e;
            ASSERT_NE(nullptr, pExtent);
            SCOPED_TRACE(volume.strName + " member on disk " + std::to_string(pExtent->nDisk) +
                         ", ignore bad sectors " + std::to_string(nIgnore));
            // A few unreadable areas in the member's extent: at its start, inside, at its end.
            std::string strBad;
            for (uint64_t u64At : {uint64_t(0), uint64_t(1000), pExtent->u64Count - 7})
                strBad += "bad " + std::to_string(pExtent->nDisk - 1) + " " +
                          std::to_string(pExtent->u64Start + u64At) + " " +
                          std::to_string(pExtent->u64Start + u64At + 5) + "\n";
            CDeviceTable table;
            table.Load(dyntest::DiskLines(m_Set, {1, 2, 3}) + strBad);
            COpenDisks disks(3);
            CReadVolumes volumes(disks.List());
            DYNAMIC_VOLUME_INFO* pInfo = volumes.Find(c.nKind);
            ASSERT_NE(nullptr, pInfo);
            EXPECT_TRUE(ReadsBackAs(pInfo->pDevice, volume.strImage));
            // The area is really unreadable on that member: a plain read fails, or reads zeros.
            std::vector<uint8_t> vecSector(512, 0xCC);
            EXPECT_EQ(nIgnore, disks.Disk(static_cast<size_t>(pExtent->nDisk - 1))
                                   ->ReadSectors(vecSector.data(), pExtent->u64Start + 1000, 1));
            EXPECT_TRUE(devtest::IsZero(vecSector.data(), 1));
        }
    }
}

TEST_P(DynamicDiskSet, DriveLettersComeFromTheDiskStack)
{
    const DynVolume& striped = m_Set.Volume(DYNAMIC_KIND_STRIPED);
    const DynVolume& simple = m_Set.Volume(DYNAMIC_KIND_SIMPLE);
    // The striped volume by its device name, the simple one by its volume GUID.
    const std::string strTable =
        dyntest::DiskLines(m_Set, {1, 2, 3}) + "volume letter=F dosname=\\Device\\HarddiskDmVolumes\\" +
        m_Set.strGroupName + "\\" + striped.strName + "\nvolume letter=G guid=" +
        simple.strGuidPath.substr(strlen("\\\\?\\Volume"), 38) + "\n";
    CDeviceTable table;
    table.Load(strTable);
    COpenDisks disks(3);
    CReadVolumes volumes(disks.List());
    ASSERT_EQ(m_Set.volumes.size(), volumes.Size());
    EXPECT_EQ('F', volumes.Find(DYNAMIC_KIND_STRIPED)->chDriveLetter);
    EXPECT_EQ('F', volumes.Find(DYNAMIC_KIND_STRIPED)->pDevice->GetDriveLetter());
    EXPECT_EQ('G', volumes.Find(DYNAMIC_KIND_SIMPLE)->chDriveLetter);
    EXPECT_EQ(0, volumes.Find(DYNAMIC_KIND_SIMPLE)->pDevice->GetDriveLetter());
    EXPECT_EQ(0, volumes.Find(DYNAMIC_KIND_MIRROR)->chDriveLetter);
}

TEST(DynamicDiskReader, NoLetterForAVolumeWithAMemberThatIsNoDynamicDisk)
{
    const DynSet set = dyntest::ReadDynamicSet("dyn-mbr");
    const DynVolume& striped = set.Volume(DYNAMIC_KIND_STRIPED);
    CDeviceTable table;
    // A copy of member 1 whose partition entry no longer says 0x42 (a copied image, say): its
    // database is still read, but the volumes on it are not the ones the system mounts.
    const std::string strCopy = table.File("member1-copy.img");
    dyntest::CopySparse(rvdtest::FixturePath(set.Disk(1).strImage), strCopy);
    const uint8_t byType = 0x07;
    dyntest::PatchFile(strCopy, 446 + 4, &byType, 1);
    table.Load("disk " + strCopy + "\n" + dyntest::DiskLines(set, {2, 3}) +
               "volume letter=F dosname=\\Device\\HarddiskDmVolumes\\" + set.strGroupName + "\\" + striped.strName +
               "\n");
    COpenDisks disks(3);
    EXPECT_FALSE(IsLdmDisk(disks.Disk(0)));
    EXPECT_TRUE(IsLdmDisk(disks.Disk(1)));
    CReadVolumes volumes(disks.List());
    ASSERT_EQ(set.volumes.size(), volumes.Size());
    EXPECT_EQ(0, volumes.Find(DYNAMIC_KIND_STRIPED)->chDriveLetter);
    EXPECT_TRUE(ReadsBackAs(volumes.Find(DYNAMIC_KIND_STRIPED)->pDevice, striped.strImage));
}

TEST(DynamicDiskReader, PrivateHeaderPlacesAndDatabaseArea)
{
    const DynSet mbr = dyntest::ReadDynamicSet("dyn-mbr");
    const DynSet gpt = dyntest::ReadDynamicSet("dyn-gpt");
    CDeviceTable table;
    table.Load(dyntest::DiskLines(mbr, {1}) + dyntest::DiskLines(gpt, {1}));
    COpenDisks disks(2);
    for (size_t i = 0; i < 2; ++i) {
        const dyntest::DynDisk& want = (i == 0 ? mbr : gpt).Disk(1);
        uint8_t aSector[512];
        ASSERT_TRUE(CLdmDatabaseReader::FindPrivateHeader(disks.Disk(i), aSector));
        LDM_PRIVATE_HEADER header;
        ASSERT_TRUE(ReadLdmPrivateHeader(aSector, sizeof(aSector), &header));
        EXPECT_STREQ(want.strGuid.c_str(), header.szDiskId);
        EXPECT_STREQ((i == 0 ? mbr : gpt).strGroupName.c_str(), header.szDiskGroupName);
        EXPECT_EQ(want.u64LogicalStart, header.u64LogicalDiskStart);
        EXPECT_EQ(want.u64DatabaseStart, header.u64DatabaseStart);
        EXPECT_TRUE(IsLdmDisk(disks.Disk(i)));
        EXPECT_TRUE(IsDynamicDisk(disks.Disk(i), disks.Disk(i)->GetTotalSectors(), 512));
    }
    CLdmDatabaseReader reader;
    CLdmDiskList list = disks.List();
    CDynamicVolumeInfoList out;
    reader.ReadDynamicVolumes(list, out);
    EXPECT_EQ(disks.Disk(1), reader.FindDiskById(gpt.Disk(1).strGuid.c_str()));
    EXPECT_EQ(nullptr, reader.FindDiskById(gpt.Disk(2).strGuid.c_str()));
    EXPECT_EQ(nullptr, reader.FindDiskById(""));
    // Only the simple volumes lie wholly on a member 1: one from each group. The others lack
    // members and are listed all the same where their kind allows it.
    int nSimple = 0;
    for (const DYNAMIC_VOLUME_INFO* pInfo : out)
        nSimple += pInfo->pDevice->GetDynamicKind() == DYNAMIC_KIND_SIMPLE;
    EXPECT_EQ(2, nSimple);
    FreeDynamicVolumeInfos(out, true);
}

TEST(DynamicDiskReader, DamagedHeadersAndDatabasesGiveNoVolumes)
{
    const DynSet set = dyntest::ReadDynamicSet("dyn-mbr");
    const dyntest::DynDisk& member = set.Disk(1);
    struct DAMAGE {
        const char* pszWhat;
        uint64_t u64DatabaseStart;  // written into both private headers
        bool bWipeVblk;             // every "VBLK" signature of the area cleared
    };
    const DAMAGE aCases[] = {
        {"database start beyond the disk", member.u64Sectors + 10, false},
        {"database start at the last sector", member.u64Sectors - 1, false},
        {"database start far beyond the disk", UINT64_MAX - 5, false},
        {"no block carries the VBLK signature", member.u64DatabaseStart, true},
    };
    for (const DAMAGE& d : aCases) {
        SCOPED_TRACE(d.pszWhat);
        CDeviceTable table;
        const std::string strCopy = table.File("member.img");
        dyntest::CopySparse(rvdtest::FixturePath(member.strImage), strCopy);
        uint8_t aStart[8];
        for (int i = 0; i < 8; ++i)
            aStart[i] = static_cast<uint8_t>(d.u64DatabaseStart >> (56 - 8 * i));
        for (uint64_t u64Sector : {uint64_t(6), member.u64Sectors - 1, member.u64DatabaseStart + 1856})
            dyntest::PatchFile(strCopy, u64Sector * 512 + 299, aStart, sizeof(aStart));
        if (d.bWipeVblk) {
            std::vector<uint8_t> vecArea =
                dyntest::ReadFileRange(strCopy, member.u64DatabaseStart * 512, LDM_DATABASE_SECTORS * 512);
            for (size_t i = 0; i + 4 <= vecArea.size(); i += 128)
                if (memcmp(vecArea.data() + i, "VBLK", 4) == 0)
                    vecArea[i] = 'X';
            dyntest::PatchFile(strCopy, member.u64DatabaseStart * 512, vecArea.data(), vecArea.size());
        }
        table.Load("disk " + strCopy + "\n");
        COpenDisks disks(1);
        CReadVolumes volumes(disks.List());
        EXPECT_EQ(0u, volumes.Size());
    }
}

} // namespace
