// Helpers shared by the test programs: where the fixture images are, their manifests,
// and scratch folders that clean up after themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rvdtest {

// Folder that holds the images made by tests/fixtures/make-fixtures.sh
// (RVD_FIXTURE_DIR from the environment, else the build tree's default).
std::string FixtureDir();

// Full path of one fixture file, e.g. FixturePath("fat16.img").
std::string FixturePath(const std::string& strName);

// The source tree and the output folder of the build.
std::string SourceDir();
std::string OutputDir();

// A folder under the system's temporary directory, removed with everything in it on destruction.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_strPath; }
    std::string File(const std::string& strName) const { return m_strPath + "/" + strName; }
private:
    std::string m_strPath;
};

// Whole file into memory; throws std::runtime_error when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& strPath);
void WriteFileBytes(const std::string& strPath, const std::vector<uint8_t>& vecData);

// SHA-256 of a byte range as 64 lower-case hex digits, as the manifests give it.
std::string Sha256Hex(const uint8_t* pData, size_t nSize);
std::string Sha256Hex(const std::vector<uint8_t>& vecData);

// One file or folder that the fixture script put into an image (one line of "<image>.manifest";
// the comment lines at the top of every manifest describe the columns in full).
struct ManifestEntry {
    bool bDeleted = false;
    bool bDirectory = false;
    uint64_t nSize = 0;         // bytes as written (0 for folders), kept for a deleted file
                                // even where the file system zeroed it (EXT3, not recoverable)
    std::string strSha256;      // of the bytes as written; empty for folders
    bool bRecoverable = false;  // deleted file whose entry still leads to its original bytes:
                                // FAT free clusters from the first cluster up, NTFS runs
                                // or resident data of the freed record, EXT block pointers
    bool bFragmented = false;   // data not in one contiguous run (EXT indirect blocks aside)
    int64_t nMtime = 0;         // modification time, Unix seconds (FAT local time = UTC here)
    int64_t nId = -1;           // NTFS record number, EXT inode, FAT first cluster; -1 if none
    std::string strPath;        // "/Documents/name.txt", UTF-8; a deleted FAT entry without a
                                // long name has lost its first character on disk. Inside a
                                // name '/', '%' and bytes below 0x20 are written %XX
    std::vector<std::string> vecNames;  // the names along strPath, %XX decoded
};

// The manifest of a fixture image: ReadManifest("fat16.img") for a file-system image,
// ReadManifest("mbr.img", 5) for the file system in partition 5 of a disk image.
// Throws std::runtime_error when the file is missing or a line is malformed.
std::vector<ManifestEntry> ReadManifest(const std::string& strImage, int nPartition = 0);
std::vector<ManifestEntry> ReadManifestFile(const std::string& strPath);

// The entry with this path, or nullptr.
const ManifestEntry* FindManifestEntry(const std::vector<ManifestEntry>& vecEntries, const std::string& strPath);

// One partition of a fixture disk image (one line of "<image>.partitions").
struct PartitionEntry {
    int nIndex = 0;             // 1-4 primary slots, 5 and up logicals in chain order
    uint64_t nStart = 0;        // first sector (512 bytes) from the start of the disk
    uint64_t nCount = 0;        // sectors; for GPT last LBA - first LBA + 1
    std::string strType;        // "0x0e" for MBR, the type GUID in upper case for GPT
    uint32_t nMbrType = 0;      // the MBR type byte; 0 for GPT
    std::string strFileSystem;  // fat12, fat16, fat32, ntfs, ext2, ext3, or empty for none
    std::string strRole;        // primary, extended, logical, gpt, or lost (entry wiped)
    std::string strLabel;       // volume label, empty when none
};

// The partitions of a fixture disk image, e.g. ReadPartitions("mbr.img").
std::vector<PartitionEntry> ReadPartitions(const std::string& strImage);
std::vector<PartitionEntry> ReadPartitionsFile(const std::string& strPath);

} // namespace rvdtest
