// The disk table: which disks exist, how each answers the disk stack's queries, and read-only raw
// access to them. See DiskTable.h for the table format.
#include "DiskTable.h"

#include "ByteOrder.h"
#include "Charset.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace rvdplat {

namespace {

constexpr uint64_t kUnit = 512;          // the engine's address unit
constexpr DWORD kDefaultHeads = 255;     // the translated geometry every BIOS-era tool assumes
constexpr DWORD kDefaultSectorsPerTrack = 63;

enum class Answer { Default, Value, Fail };

struct ReadCapacityRule {
    Answer eAnswer = Answer::Default;
    SCSI_READ_CAPACITY value{};
    bool bBlockGiven = false;
};

struct GeometryRule {
    Answer eAnswer = Answer::Default;
    uint64_t qwCylinders = 0;
    DWORD dwHeads = 0;
    DWORD dwSectors = 0;
};

struct BadRange {
    uint64_t qwFirst;  // device sectors, half-open
    uint64_t qwEnd;
};

// One physical drive or one floppy drive letter.
struct DriveRec {
    std::string strPath;
    bool bFromTable = false;
    uint32_t dwSectorSize = 0;  // 0: ask the device (or 512 for files)
    GeometryRule geometry;
    Answer eLength = Answer::Default;
    uint64_t qwLength = 0;
    ReadCapacityRule readCapacity[2];
    bool bMediaGiven = false;
    DWORD dwMedia = kMediaFixed;
    bool bDescriptorFail = false;
    bool bDescriptorGiven = false;
    STORAGE_DESCRIPTOR_INFO descriptor;
    bool bLayoutEx = true;
    bool bLayoutLegacy = true;
    bool bOpenFail = false;
    std::vector<BadRange> badRanges;
    // floppies only
    char chLetter = 0;
    std::string strLabel;
    std::string strFileSystem;
    DWORD dwVolumeError = 0;
};

struct VolumeRec {
    VOLUME_ENTRY entry;
    bool bOnDisk = false;
    bool bFreeGiven = false;
    uint64_t qwFree = 0;
    bool bTotalGiven = false;
    uint64_t qwTotal = 0;
    UINT uDriveType = kDriveFixed;
    DWORD dwVolumeError = 0;
    bool bFsGiven = false;
};

struct Table {
    std::vector<DriveRec> disks;
    std::vector<DriveRec> floppies;
    std::vector<VolumeRec> volumes;  // floppies first, then by disk and start
    bool bMountManagerFail = false;
    std::string strError;
};

// ----- small text helpers ----------------------------------------------------------------------------

std::string ReadSmallFile(const std::string& strPath) {
    std::ifstream in(strPath);
    if (!in) return std::string();
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string TrimNewline(std::string str) {
    while (!str.empty() && (str.back() == '\n' || str.back() == '\r')) str.pop_back();
    return str;
}

bool ParseUnsigned(const std::string& strText, uint64_t* pValue) {
    if (strText.empty() || strText[0] == '-' || strText[0] == '+' || isspace((unsigned char)strText[0]))
        return false;
    errno = 0;
    char* pEnd = nullptr;
    unsigned long long v = strtoull(strText.c_str(), &pEnd, 0);
    if (errno != 0 || pEnd == strText.c_str() || *pEnd != '\0') return false;
    // strtoull with base 0 would read "010" as octal; the table means decimal there.
    if (strText.size() > 1 && strText[0] == '0' && strText[1] != 'x' && strText[1] != 'X') {
        errno = 0;
        v = strtoull(strText.c_str(), &pEnd, 10);
        if (errno != 0 || *pEnd != '\0') return false;
    }
    *pValue = v;
    return true;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i])) return false;
    return true;
}

bool StartsWithNoCase(const std::string& str, const std::string& strPrefix) {
    return str.size() >= strPrefix.size() && EqualsNoCase(str.substr(0, strPrefix.size()), strPrefix);
}

char UpperLetter(char ch) {
    if (ch >= 'a' && ch <= 'z') return static_cast<char>(ch - 'a' + 'A');
    return ch;
}

bool IsLetter(char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }

std::string FormatGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint16_t d4, uint64_t qwNode) {
    char sz[64];
    snprintf(sz, sizeof(sz), "{%08x-%04x-%04x-%04x-%012llx}", d1, d2, d3, d4,
             static_cast<unsigned long long>(qwNode & 0xFFFFFFFFFFFFull));
    return sz;
}

bool IsGuidText(const std::string& s) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    if (s.size() != 38 || s.front() != '{' || s.back() != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool bDash = (i == 9 || i == 14 || i == 19 || i == 24);
        if (bDash ? s[i] != '-' : !isxdigit((unsigned char)s[i])) return false;
    }
    return true;
}

std::string GuidPathOf(const std::string& strGuid) { return "\\\\?\\Volume" + strGuid + "\\"; }

// "\040"-style escapes of /proc/self/mountinfo and "\x20" of /dev/disk/by-label.
std::string UnescapeName(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7' && s[i + 2] >= '0' && s[i + 2] <= '7' &&
            s[i + 3] >= '0' && s[i + 3] <= '7') {
            out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && isxdigit((unsigned char)s[i + 2]) &&
                   isxdigit((unsigned char)s[i + 3])) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// ----- the machine's mounts -------------------------------------------------------------------------

struct MountRec {
    dev_t dev;
    std::string strMountPoint;
    std::string strFsType;
    std::string strSource;
};

std::vector<MountRec> ReadMounts() {
    std::vector<MountRec> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string strLine;
    while (std::getline(in, strLine)) {
        // id parent major:minor root mountpoint options... - fstype source superoptions
        std::istringstream ls(strLine);
        std::string strId, strParent, strDev, strRoot, strMountPoint;
        if (!(ls >> strId >> strParent >> strDev >> strRoot >> strMountPoint)) continue;
        std::string strTok;
        while (ls >> strTok && strTok != "-") {
        }
        MountRec m;
        ls >> m.strFsType >> m.strSource;
        unsigned uMajor = 0, uMinor = 0;
        if (sscanf(strDev.c_str(), "%u:%u", &uMajor, &uMinor) != 2) continue;
        m.dev = makedev(uMajor, uMinor);
        m.strMountPoint = UnescapeName(strMountPoint);
        m.strFsType = UnescapeName(m.strFsType);
        m.strSource = UnescapeName(m.strSource);
        mounts.push_back(m);
    }
    return mounts;
}

// The mount whose folder holds strPath (an existing, canonical path): the longest mount point prefix.
bool FindMountOf(const std::string& strPath, MountRec* pMount) {
    std::vector<MountRec> mounts = ReadMounts();
    size_t nBest = 0;
    bool bFound = false;
    for (const MountRec& m : mounts) {
        const std::string& mp = m.strMountPoint;
        bool bPrefix = strPath == mp || mp == "/" ||
                       (strPath.size() > mp.size() && strPath.compare(0, mp.size(), mp) == 0 && strPath[mp.size()] == '/');
        // Later lines mount over earlier ones at the same place, so ">=" keeps the visible one.
        if (bPrefix && mp.size() >= nBest) {
            nBest = mp.size();
            *pMount = m;
            bFound = true;
        }
    }
    return bFound;
}

// ----- the machine's disks (no table) ---------------------------------------------------------------

bool IsWholeDiskName(const std::string& n) {
    auto allDigits = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    auto allLower = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    };
    if (n.compare(0, 3, "xvd") == 0) return allLower(n.substr(3));
    if (n.compare(0, 2, "sd") == 0 || n.compare(0, 2, "vd") == 0) return allLower(n.substr(2));
    if (n.compare(0, 6, "mmcblk") == 0) return allDigits(n.substr(6));  // not mmcblk0boot0 / rpmb
    if (n.compare(0, 4, "nvme") == 0) {
        // nvme<ctrl>n<ns>; the hidden multipath paths nvme<ctrl>c<n>n<ns> are not disks of their own.
        size_t nPos = n.find('n', 4);
        return nPos != std::string::npos && allDigits(n.substr(4, nPos - 4)) && allDigits(n.substr(nPos + 1));
    }
    return false;
}

std::vector<std::string> ListMachineDisks() {
    std::vector<std::string> names;
    if (DIR* pDir = opendir("/sys/block")) {
        while (dirent* pEnt = readdir(pDir)) {
            std::string n = pEnt->d_name;
            if (IsWholeDiskName(n)) names.push_back(n);
        }
        closedir(pDir);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& n : names) paths.push_back("/dev/" + n);
    return paths;
}

// /sys/class/block/<name> of a block device node, or empty.
std::string SysDirOfBlockDevice(const std::string& strPath) {
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::string();
    char sz[64];
    snprintf(sz, sizeof(sz), "/sys/dev/block/%u:%u", major(st.st_rdev), minor(st.st_rdev));
    char* pReal = realpath(sz, nullptr);
    if (!pReal) return std::string();
    std::string s = pReal;
    free(pReal);
    return s;
}

std::map<std::string, std::string> ReadLabelsByDeviceName() {
    std::map<std::string, std::string> labels;
    if (DIR* pDir = opendir("/dev/disk/by-label")) {
        while (dirent* pEnt = readdir(pDir)) {
            std::string n = pEnt->d_name;
            if (n == "." || n == "..") continue;
            char* pReal = realpath(("/dev/disk/by-label/" + n).c_str(), nullptr);
            if (!pReal) continue;
            std::string strTarget = pReal;
            free(pReal);
            labels[strTarget.substr(strTarget.rfind('/') + 1)] = UnescapeName(n);
        }
        closedir(pDir);
    }
    return labels;
}

// Partitions of a real whole disk, as the operating system knows them.
void AddSysVolumes(int nDisk, const std::string& strPath, const std::vector<MountRec>& mounts,
                   const std::map<std::string, std::string>& labels, std::vector<VolumeRec>* pVolumes) {
    std::string strSys = SysDirOfBlockDevice(strPath);
    if (strSys.empty()) return;
    std::string strDiskName = strSys.substr(strSys.rfind('/') + 1);
    DIR* pDir = opendir(strSys.c_str());
    if (!pDir) return;
    while (dirent* pEnt = readdir(pDir)) {
        std::string n = pEnt->d_name;
        if (n.compare(0, strDiskName.size(), strDiskName) != 0 || n == strDiskName) continue;
        std::string strPart = strSys + "/" + n;
        uint64_t qwNumber = 0, qwStart = 0, qwSize = 0;
        if (!ParseUnsigned(TrimNewline(ReadSmallFile(strPart + "/partition")), &qwNumber) ||
            !ParseUnsigned(TrimNewline(ReadSmallFile(strPart + "/start")), &qwStart) ||
            !ParseUnsigned(TrimNewline(ReadSmallFile(strPart + "/size")), &qwSize))
            continue;
        VolumeRec v;
        v.bOnDisk = true;
        v.entry.nDiskNumber = nDisk;
        v.entry.qwStartSector = qwStart;  // /sys counts 512-byte units whatever the sector size
        v.entry.qwSectorCount = qwSize;
        v.entry.dwPartitionNumber = static_cast<DWORD>(qwNumber);
        unsigned uMajor = 0, uMinor = 0;
        if (sscanf(ReadSmallFile(strPart + "/dev").c_str(), "%u:%u", &uMajor, &uMinor) == 2) {
            dev_t dev = makedev(uMajor, uMinor);
            for (const MountRec& m : mounts) {
                if (m.dev == dev) {
                    v.entry.strMountFolder = m.strMountPoint;
                    v.entry.strFileSystem = m.strFsType;
                    break;
                }
            }
        }
        auto it = labels.find(n);
        if (it != labels.end()) v.entry.strLabel = it->second;
        pVolumes->push_back(v);
    }
    closedir(pDir);
}

// ----- the table parser ------------------------------------------------------------------------------

struct ParseError {
    std::string strText;
};

std::vector<std::string> Tokenize(const std::string& strLine, int nLine, const std::string& strFile) {
    std::vector<std::string> tokens;
    std::string strCur;
    bool bInToken = false, bInQuote = false;
    for (char ch : strLine) {
        if (bInQuote) {
            if (ch == '"') bInQuote = false;
            else strCur.push_back(ch);
            continue;
        }
        if (ch == '#') break;
        if (ch == '"') {
            bInQuote = true;
            bInToken = true;
        } else if (ch == ' ' || ch == '\t' || ch == '\r') {
            if (bInToken) tokens.push_back(strCur);
            strCur.clear();
            bInToken = false;
        } else {
            strCur.push_back(ch);
            bInToken = true;
        }
    }
    if (bInQuote) throw ParseError{strFile + ":" + std::to_string(nLine) + ": unterminated quote"};
    if (bInToken) tokens.push_back(strCur);
    return tokens;
}

class CTableParser {
public:
    CTableParser(const std::string& strFile, Table* pTable) : m_strFile(strFile), m_pTable(pTable) {
        size_t nSlash = strFile.rfind('/');
        m_strDir = nSlash == std::string::npos ? std::string(".") : strFile.substr(0, nSlash);
        if (m_strDir.empty()) m_strDir = "/";
    }

    void Parse(const std::string& strText) {
        std::istringstream in(strText);
        std::string strLine;
        struct PendingBad {
            int nLine;
            std::string strTarget;
            BadRange range;
        };
        std::vector<PendingBad> pendingBad;
        std::vector<int> volumeLines;
        while (std::getline(in, strLine)) {
            ++m_nLine;
            std::vector<std::string> t = Tokenize(strLine, m_nLine, m_strFile);
            if (t.empty()) continue;
            const std::string& kw = t[0];
            if (kw == "disk") {
                ParseDisk(t);
            } else if (kw == "floppy") {
                ParseFloppy(t);
                m_floppyLines.push_back(m_nLine);
            } else if (kw == "volume") {
                ParseVolume(t);
                volumeLines.push_back(m_nLine);
            } else if (kw == "bad") {
                if (t.size() != 4) Fail("\"bad\" takes <disk number | letter:> <first> <end>");
                BadRange r;
                if (!ParseUnsigned(t[2], &r.qwFirst) || !ParseUnsigned(t[3], &r.qwEnd))
                    Fail("bad range bounds must be sector numbers");
                if (r.qwFirst >= r.qwEnd) Fail("bad range [" + t[2] + ", " + t[3] + ") is empty");
                pendingBad.push_back({m_nLine, t[1], r});
            } else if (kw == "mountmgr") {
                if (t.size() != 2 || t[1] != "fail") Fail("\"mountmgr\" takes only \"fail\"");
                m_pTable->bMountManagerFail = true;
            } else {
                Fail("unknown record \"" + kw + "\" (expected disk, floppy, volume, bad or mountmgr)");
            }
        }
        // References are checked after the whole file, so the order of lines does not matter.
        for (const PendingBad& b : pendingBad) {
            m_nLine = b.nLine;
            DriveRec* pDrive = nullptr;
            uint64_t qwDisk = 0;
            if (b.strTarget.size() == 2 && IsLetter(b.strTarget[0]) && b.strTarget[1] == ':') {
                for (DriveRec& f : m_pTable->floppies)
                    if (f.chLetter == UpperLetter(b.strTarget[0])) pDrive = &f;
                if (!pDrive) Fail("bad range on " + b.strTarget + ", which is no floppy of this table");
            } else if (ParseUnsigned(b.strTarget, &qwDisk)) {
                if (qwDisk >= m_pTable->disks.size())
                    Fail("bad range on disk " + b.strTarget + ", but the table lists " +
                         std::to_string(m_pTable->disks.size()) + " disk(s)");
                pDrive = &m_pTable->disks[qwDisk];
            } else {
                Fail("bad range target \"" + b.strTarget + "\" is neither a disk number nor a letter like A:");
            }
            pDrive->badRanges.push_back(b.range);
        }
        for (size_t i = 0; i < m_pTable->volumes.size(); ++i) {
            m_nLine = volumeLines[i];
            const VolumeRec& v = m_pTable->volumes[i];
            if (v.bOnDisk && v.entry.nDiskNumber >= static_cast<int>(m_pTable->disks.size()))
                Fail("volume on disk " + std::to_string(v.entry.nDiskNumber) + ", but the table lists " +
                     std::to_string(m_pTable->disks.size()) + " disk(s)");
        }
        CheckLetters(volumeLines);
    }

private:
    [[noreturn]] void Fail(const std::string& strWhy) {
        throw ParseError{m_strFile + ":" + std::to_string(m_nLine) + ": " + strWhy};
    }

    std::string ResolvePath(const std::string& strPath) {
        if (strPath.empty()) Fail("empty path");
        return strPath[0] == '/' ? strPath : m_strDir + "/" + strPath;
    }

    static bool SplitKey(const std::string& strTok, std::string* pKey, std::string* pValue) {
        size_t n = strTok.find('=');
        if (n == std::string::npos || n == 0) return false;
        *pKey = strTok.substr(0, n);
        *pValue = strTok.substr(n + 1);
        return true;
    }

    uint64_t Number(const std::string& strKey, const std::string& strValue) {
        uint64_t v = 0;
        if (!ParseUnsigned(strValue, &v)) Fail(strKey + "=\"" + strValue + "\" is not a number");
        return v;
    }

    DWORD Dword(const std::string& strKey, const std::string& strValue) {
        uint64_t v = Number(strKey, strValue);
        if (v > 0xFFFFFFFFull) Fail(strKey + "=" + strValue + " does not fit in 32 bits");
        return static_cast<DWORD>(v);
    }

    void Geometry(const std::string& strValue, GeometryRule* pRule) {
        if (strValue == "fail") {
            pRule->eAnswer = Answer::Fail;
            return;
        }
        size_t a = strValue.find('/'), b = strValue.find('/', a == std::string::npos ? a : a + 1);
        uint64_t c = 0, h = 0, s = 0;
        if (a == std::string::npos || b == std::string::npos || !ParseUnsigned(strValue.substr(0, a), &c) ||
            !ParseUnsigned(strValue.substr(a + 1, b - a - 1), &h) || !ParseUnsigned(strValue.substr(b + 1), &s))
            Fail("geometry=\"" + strValue + "\" is not <cylinders>/<heads>/<sectors> or fail");
        if (h > 0xFFFFFFFFull || s > 0xFFFFFFFFull || c > 0x7FFFFFFFFFFFFFFFull)
            Fail("geometry=\"" + strValue + "\" is out of range");
        pRule->eAnswer = Answer::Value;
        pRule->qwCylinders = c;
        pRule->dwHeads = static_cast<DWORD>(h);
        pRule->dwSectors = static_cast<DWORD>(s);
    }

    void ReadCapacity(const std::string& strKey, const std::string& strValue, ReadCapacityRule* pRule) {
        if (strValue == "fail") {
            pRule->eAnswer = Answer::Fail;
            return;
        }
        size_t n = strValue.find('/');
        pRule->eAnswer = Answer::Value;
        pRule->value.dwLastLba = Dword(strKey, strValue.substr(0, n));
        if (n != std::string::npos) {
            pRule->value.dwBlockLength = Dword(strKey, strValue.substr(n + 1));
            pRule->bBlockGiven = true;
        }
    }

    static bool Exists(const std::string& strPath) {
        struct stat st;
        return stat(strPath.c_str(), &st) == 0;
    }

    void ParseDisk(const std::vector<std::string>& t) {
        if (t.size() < 2 || t[1].find('=') != std::string::npos) Fail("\"disk\" needs a path first");
        if (m_pTable->disks.size() >= static_cast<size_t>(kMaxPhysicalDrives))
            Fail("more than " + std::to_string(kMaxPhysicalDrives) + " disks");
        DriveRec d;
        d.bFromTable = true;
        d.strPath = ResolvePath(t[1]);
        if (!Exists(d.strPath)) Fail("disk \"" + d.strPath + "\" does not exist");
        for (size_t i = 2; i < t.size(); ++i) {
            std::string k, v;
            if (!SplitKey(t[i], &k, &v)) Fail("\"" + t[i] + "\" is not key=value");
            if (k == "sector") {
                uint64_t s = Number(k, v);
                if (s == 0 || s % 512 != 0 || s > 65536) Fail("sector=" + v + " is not a multiple of 512 up to 65536");
                d.dwSectorSize = static_cast<uint32_t>(s);
            } else if (k == "geometry") {
                Geometry(v, &d.geometry);
            } else if (k == "length") {
                if (v == "fail") d.eLength = Answer::Fail;
                else {
                    d.eLength = Answer::Value;
                    d.qwLength = Number(k, v);
                }
            } else if (k == "readcap0") {
                ReadCapacity(k, v, &d.readCapacity[0]);
            } else if (k == "readcap1") {
                ReadCapacity(k, v, &d.readCapacity[1]);
            } else if (k == "media") {
                d.bMediaGiven = true;
                d.dwMedia = Dword(k, v);
            } else if (k == "bus") {
                d.bDescriptorGiven = true;
                d.descriptor.dwBusType = Dword(k, v);
            } else if (k == "vendor") {
                d.bDescriptorGiven = true;
                d.descriptor.strVendorId = v;
            } else if (k == "product") {
                d.bDescriptorGiven = true;
                d.descriptor.strProductId = v;
            } else if (k == "revision") {
                d.bDescriptorGiven = true;
                d.descriptor.strProductRevision = v;
            } else if (k == "serial") {
                d.bDescriptorGiven = true;
                d.descriptor.strSerialNumber = v;
            } else if (k == "descriptor") {
                if (v != "fail") Fail("descriptor= takes only fail");
                d.bDescriptorFail = true;
            } else if (k == "layout") {
                if (v == "ex") d.bLayoutEx = d.bLayoutLegacy = true;
                else if (v == "legacy") {
                    d.bLayoutEx = false;
                    d.bLayoutLegacy = true;
                } else if (v == "none") d.bLayoutEx = d.bLayoutLegacy = false;
                else Fail("layout=" + v + " is not ex, legacy or none");
            } else if (k == "open") {
                if (v != "fail") Fail("open= takes only fail");
                d.bOpenFail = true;
            } else {
                Fail("unknown disk key \"" + k + "\"");
            }
        }
        m_pTable->disks.push_back(d);
    }

    char Letter(const std::string& strValue) {
        std::string s = strValue;
        if (s.size() == 2 && s[1] == ':') s.pop_back();
        if (s.size() != 1 || !IsLetter(s[0])) Fail("\"" + strValue + "\" is not a drive letter");
        return UpperLetter(s[0]);
    }

    void ParseFloppy(const std::vector<std::string>& t) {
        if (t.size() < 3) Fail("\"floppy\" needs a letter (A or B) and a path");
        DriveRec f;
        f.bFromTable = true;
        f.chLetter = Letter(t[1]);
        if (f.chLetter != 'A' && f.chLetter != 'B') Fail("floppy letter must be A or B");
        f.strPath = ResolvePath(t[2]);
        if (!Exists(f.strPath)) Fail("floppy image \"" + f.strPath + "\" does not exist");
        f.dwSectorSize = 512;
        for (size_t i = 3; i < t.size(); ++i) {
            std::string k, v;
            if (!SplitKey(t[i], &k, &v)) Fail("\"" + t[i] + "\" is not key=value");
            if (k == "geometry") Geometry(v, &f.geometry);
            else if (k == "media") {
                f.bMediaGiven = true;
                f.dwMedia = Dword(k, v);
            } else if (k == "label") f.strLabel = v;
            else if (k == "fs") f.strFileSystem = v;
            else if (k == "volerr") f.dwVolumeError = Dword(k, v);
            else Fail("unknown floppy key \"" + k + "\"");
        }
        m_pTable->floppies.push_back(f);
    }

    void ParseVolume(const std::vector<std::string>& t) {
        VolumeRec v;
        bool bStart = false, bCount = false, bPartition = false;
        for (size_t i = 1; i < t.size(); ++i) {
            std::string k, val;
            if (!SplitKey(t[i], &k, &val)) Fail("\"" + t[i] + "\" is not key=value");
            if (k == "disk") {
                uint64_t n = Number(k, val);
                if (n >= static_cast<uint64_t>(kMaxPhysicalDrives)) Fail("disk=" + val + " is beyond the last drive number");
                v.entry.nDiskNumber = static_cast<int>(n);
                v.bOnDisk = true;
            } else if (k == "start") {
                v.entry.qwStartSector = Number(k, val);
                bStart = true;
            } else if (k == "count") {
                v.entry.qwSectorCount = Number(k, val);
                bCount = true;
            } else if (k == "partition") {
                v.entry.dwPartitionNumber = Dword(k, val);
                bPartition = true;
            } else if (k == "letter") {
                v.entry.chDriveLetter = Letter(val);
            } else if (k == "label") {
                v.entry.strLabel = val;
            } else if (k == "fs") {
                v.entry.strFileSystem = val;
                v.bFsGiven = true;
            } else if (k == "mount") {
                v.entry.strMountFolder = ResolvePath(val);
                struct stat st;
                if (stat(v.entry.strMountFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                    Fail("mount folder \"" + v.entry.strMountFolder + "\" is not an existing folder");
            } else if (k == "free") {
                v.bFreeGiven = true;
                v.qwFree = Number(k, val);
            } else if (k == "total") {
                v.bTotalGiven = true;
                v.qwTotal = Number(k, val);
            } else if (k == "guid") {
                if (!IsGuidText(val)) Fail("guid=" + val + " is not {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}");
                v.entry.strVolumeGuidPath = GuidPathOf(val);
            } else if (k == "dosname") {
                v.entry.strDosDeviceName = val;
            } else if (k == "type") {
                if (val == "fixed") v.uDriveType = kDriveFixed;
                else if (val == "removable") v.uDriveType = kDriveRemovable;
                else if (val == "cdrom") v.uDriveType = kDriveCdrom;
                else if (val == "remote") v.uDriveType = kDriveRemote;
                else if (val == "ramdisk") v.uDriveType = kDriveRamdisk;
                else Fail("type=" + val + " is not fixed, removable, cdrom, remote or ramdisk");
            } else if (k == "volerr") {
                v.dwVolumeError = Dword(k, val);
            } else {
                Fail("unknown volume key \"" + k + "\"");
            }
        }
        if (v.bOnDisk) {
            if (!bStart || !bCount) Fail("a volume on a disk needs start= and count=");
            if (v.entry.qwSectorCount == 0) Fail("volume with count=0");
            if (v.entry.qwStartSector > UINT64_MAX / kUnit - v.entry.qwSectorCount)
                Fail("volume start + count overflows");
        } else if (bStart || bCount || bPartition) {
            Fail("start=, count= and partition= need disk=");
        }
        if (!v.bOnDisk && v.entry.chDriveLetter == 0 && v.entry.strVolumeGuidPath.empty())
            Fail("a volume without disk= needs a letter or a guid to be found by");
        if (bPartition && v.entry.dwPartitionNumber == 0) Fail("partition numbers start at 1");
        m_pTable->volumes.push_back(v);
    }

    void CheckLetters(const std::vector<int>& volumeLines) {
        std::map<char, int> used;  // letter -> line that gave it first
        auto claim = [&](char c, int nLine) {
            if (c == 0) return;
            m_nLine = nLine;
            auto it = used.find(c);
            if (it != used.end())
                Fail(std::string("letter ") + c + ": is given twice (first on line " + std::to_string(it->second) + ")");
            used[c] = nLine;
        };
        for (size_t i = 0; i < m_pTable->floppies.size(); ++i) claim(m_pTable->floppies[i].chLetter, m_floppyLines[i]);
        for (size_t i = 0; i < m_pTable->volumes.size(); ++i) claim(m_pTable->volumes[i].entry.chDriveLetter, volumeLines[i]);
    }

    std::string m_strFile;
    std::string m_strDir;
    Table* m_pTable;
    int m_nLine = 0;
    std::vector<int> m_floppyLines;
};

// Fills the derived names of every volume and puts them in their listing order.
void FinishVolumes(Table* pTable) {
    std::vector<VolumeRec> all;
    for (const DriveRec& f : pTable->floppies) {
        VolumeRec v;
        v.entry.chDriveLetter = f.chLetter;
        v.entry.bFloppy = true;
        struct stat st;
        if (stat(f.strPath.c_str(), &st) == 0) v.entry.qwSectorCount = static_cast<uint64_t>(st.st_size) / kUnit;
        v.entry.strLabel = f.strLabel;
        v.entry.strFileSystem = f.strFileSystem;
        v.bFsGiven = !f.strFileSystem.empty();
        v.uDriveType = kDriveRemovable;
        v.dwVolumeError = f.dwVolumeError;
        v.entry.strDosDeviceName = std::string("\\Device\\Floppy") + static_cast<char>('0' + (f.chLetter - 'A'));
        v.entry.strVolumeGuidPath = GuidPathOf(FormatGuid(0x52564446u, 0, 0, 0, static_cast<uint64_t>(f.chLetter)));
        all.push_back(v);
    }
    std::vector<VolumeRec> onDisks = pTable->volumes;
    std::stable_sort(onDisks.begin(), onDisks.end(), [](const VolumeRec& a, const VolumeRec& b) {
        if (a.bOnDisk != b.bOnDisk) return a.bOnDisk;
        if (!a.bOnDisk) return false;
        if (a.entry.nDiskNumber != b.entry.nDiskNumber) return a.entry.nDiskNumber < b.entry.nDiskNumber;
        return a.entry.qwStartSector < b.entry.qwStartSector;
    });
    std::map<int, DWORD> placeOnDisk;
    int nVolumeIndex = 0;
    for (VolumeRec& v : onDisks) {
        ++nVolumeIndex;
        if (v.bOnDisk) {
            DWORD dwPlace = ++placeOnDisk[v.entry.nDiskNumber];
            if (v.entry.dwPartitionNumber == 0) v.entry.dwPartitionNumber = dwPlace;
        }
        if (v.entry.strVolumeGuidPath.empty()) {
            // A stable made-up identity: same disk and start, same name across runs.
            v.entry.strVolumeGuidPath = GuidPathOf(FormatGuid(0x52564400u | static_cast<uint32_t>(v.entry.nDiskNumber & 0xFF), 0, 0,
                                                              static_cast<uint16_t>(v.entry.dwPartitionNumber),
                                                              v.entry.qwStartSector));
        }
        if (v.entry.strDosDeviceName.empty())
            v.entry.strDosDeviceName = "\\Device\\HarddiskVolume" + std::to_string(nVolumeIndex);
        if (!v.bFsGiven && v.entry.strFileSystem.empty() && !v.entry.strMountFolder.empty()) {
            MountRec m;
            if (FindMountOf(v.entry.strMountFolder, &m)) v.entry.strFileSystem = m.strFsType;
        }
        all.push_back(v);
    }
    pTable->volumes = all;
}

std::shared_ptr<const Table> LoadTable() {
    auto pTable = std::make_shared<Table>();
    const char* pszTable = getenv("RAVENDO_DEVICE_TABLE");
    if (pszTable && *pszTable) {
        std::string strFile = pszTable;
        std::ifstream in(strFile);
        if (!in) {
            pTable->strError = strFile + ": cannot read the device table (" + strerror(errno) + ")";
        } else {
            std::stringstream ss;
            ss << in.rdbuf();
            try {
                CTableParser parser(strFile, pTable.get());
                parser.Parse(ss.str());
            } catch (const ParseError& e) {
                pTable->strError = e.strText;
            }
        }
        if (!pTable->strError.empty()) {
            // A broken test table must not turn into the machine's own disks: no disks at all.
            std::string strError = pTable->strError;
            pTable = std::make_shared<Table>();
            pTable->strError = strError;
            fprintf(stderr, "disk table: %s\n", strError.c_str());
            return pTable;
        }
        FinishVolumes(pTable.get());
        return pTable;
    }

    std::vector<std::string> paths;
    const char* pszDisks = getenv("RAVENDO_DISKS");
    if (pszDisks && *pszDisks) {
        std::string s = pszDisks;
        size_t nPos = 0;
        while (nPos <= s.size()) {
            size_t nColon = s.find(':', nPos);
            std::string p = s.substr(nPos, nColon == std::string::npos ? std::string::npos : nColon - nPos);
            if (!p.empty()) paths.push_back(p);  // "a::b" is a slip, not an empty drive
            if (nColon == std::string::npos) break;
            nPos = nColon + 1;
        }
    } else {
        paths = ListMachineDisks();
    }
    if (paths.size() > static_cast<size_t>(kMaxPhysicalDrives)) paths.resize(kMaxPhysicalDrives);
    std::vector<MountRec> mounts = ReadMounts();
    std::map<std::string, std::string> labels = ReadLabelsByDeviceName();
    for (size_t i = 0; i < paths.size(); ++i) {
        DriveRec d;
        d.strPath = paths[i];
        pTable->disks.push_back(d);
        AddSysVolumes(static_cast<int>(i), paths[i], mounts, labels, &pTable->volumes);
    }
    FinishVolumes(pTable.get());
    return pTable;
}

std::mutex g_tableMutex;
std::shared_ptr<const Table> g_pTable;

std::shared_ptr<const Table> CurrentTable() {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (!g_pTable) g_pTable = LoadTable();
    return g_pTable;
}

const VolumeRec* FindVolumeByLetter(const Table& table, char chLetter) {
    chLetter = UpperLetter(chLetter);
    for (const VolumeRec& v : table.volumes)
        if (v.entry.chDriveLetter == chLetter) return &v;
    return nullptr;
}

const VolumeRec* FindVolumeByGuidPath(const Table& table, std::string strPath) {
    if (strPath.empty() || strPath.back() != '\\') strPath.push_back('\\');
    for (const VolumeRec& v : table.volumes)
        if (EqualsNoCase(v.entry.strVolumeGuidPath, strPath)) return &v;
    return nullptr;
}

const DriveRec* FindFloppy(const Table& table, char chLetter) {
    for (const DriveRec& f : table.floppies)
        if (f.chLetter == UpperLetter(chLetter)) return &f;
    return nullptr;
}

// Geometry MediaType and shape of a floppy by image size.
bool StandardFloppy(uint64_t qwSize, DWORD* pMedia, uint64_t* pC, DWORD* pH, DWORD* pS) {
    struct Shape {
        uint64_t qwSize;
        DWORD dwMedia;
        uint64_t c;
        DWORD h, s;
    };
    static const Shape kShapes[] = {
        {1474560, kMediaF3_1Pt44_512, 80, 2, 18}, {737280, kMediaF3_720_512, 80, 2, 9},
        {2949120, kMediaF3_2Pt88_512, 80, 2, 36}, {1228800, kMediaF5_1Pt2_512, 80, 2, 15},
        {368640, kMediaF5_360_512, 40, 2, 9},
    };
    for (const Shape& sh : kShapes) {
        if (sh.qwSize == qwSize) {
            *pMedia = sh.dwMedia;
            *pC = sh.c;
            *pH = sh.h;
            *pS = sh.s;
            return true;
        }
    }
    return false;
}

// READ CAPACITY(10) through the SCSI generic pass-through of a block device.
bool SgReadCapacity(int fd, SCSI_READ_CAPACITY* pCapacity) {
    unsigned char cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char data[8] = {0};
    unsigned char sense[32] = {0};
    sg_io_hdr_t io;
    memset(&io, 0, sizeof(io));
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = sizeof(cdb);
    io.cmdp = cdb;
    io.dxfer_len = sizeof(data);
    io.dxferp = data;
    io.mx_sb_len = sizeof(sense);
    io.sbp = sense;
    io.timeout = 4000;  // the same four seconds the pass-through request asks for
    if (ioctl(fd, SG_IO, &io) != 0) return false;
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK || io.resid != 0) {
        errno = EIO;
        return false;
    }
    pCapacity->dwLastLba = rvd::LoadBE32(data);
    pCapacity->dwBlockLength = rvd::LoadBE32(data + 4);
    return true;
}

std::string SysText(const std::string& strFile) {
    std::string s = TrimNewline(ReadSmallFile(strFile));
    return s;
}

// Storage descriptor of a block device from /sys: bus by the device's place in the device tree.
bool SysDescriptor(const std::string& strPath, STORAGE_DESCRIPTOR_INFO* pOut) {
    std::string strSys = SysDirOfBlockDevice(strPath);
    if (strSys.empty()) return false;
    struct stat st;
    if (stat((strSys + "/partition").c_str(), &st) == 0) strSys = strSys.substr(0, strSys.rfind('/'));
    STORAGE_DESCRIPTOR_INFO d;
    std::string strDev = strSys + "/device";
    d.strVendorId = SysText(strDev + "/vendor");
    d.strProductId = SysText(strDev + "/model");
    d.strProductRevision = SysText(strDev + "/rev");
    if (d.strProductRevision.empty()) d.strProductRevision = SysText(strDev + "/firmware_rev");
    d.strSerialNumber = SysText(strDev + "/serial");
    if (d.strSerialNumber.empty()) d.strSerialNumber = SysText(strSys + "/serial");
    if (strSys.find("/usb") != std::string::npos) d.dwBusType = 7;
    else if (strSys.find("/nvme") != std::string::npos) d.dwBusType = 17;
    else if (strSys.find("/mmc") != std::string::npos) d.dwBusType = 12;
    else if (strSys.find("/ata") != std::string::npos) d.dwBusType = 3;
    else if (strSys.find("/virtio") != std::string::npos) d.dwBusType = 0;
    else if (strSys.find("/target") != std::string::npos || strSys.find("/host") != std::string::npos) d.dwBusType = 1;
    *pOut = d;
    return true;
}

// Resolves a root given as "X:", "X:\...", "\\?\Volume{...}\..." or a host path.
struct RootRef {
    enum Kind { Invalid, Letter, GuidVolume, Host, Network } eKind = Invalid;
    const VolumeRec* pVolume = nullptr;  // Letter / GuidVolume when known
    std::string strRest;                  // path below the root, '/'-separated, for Letter / GuidVolume
    std::string strHostPath;              // Host
};

RootRef ResolveRoot(const Table& table, const std::string& strPath) {
    RootRef r;
    if (strPath.size() >= 2 && IsLetter(strPath[0]) && strPath[1] == ':') {
        r.eKind = RootRef::Letter;
        r.pVolume = FindVolumeByLetter(table, strPath[0]);
        std::string strRest = strPath.substr(2);
        std::replace(strRest.begin(), strRest.end(), '\\', '/');
        r.strRest = strRest;
        return r;
    }
    if (StartsWithNoCase(strPath, "\\\\?\\Volume{")) {
        r.eKind = RootRef::GuidVolume;
        size_t nEnd = strPath.find('}');
        if (nEnd == std::string::npos) {
            r.eKind = RootRef::Invalid;
            return r;
        }
        r.pVolume = FindVolumeByGuidPath(table, strPath.substr(0, nEnd + 1));
        std::string strRest = strPath.substr(nEnd + 1);
        std::replace(strRest.begin(), strRest.end(), '\\', '/');
        r.strRest = strRest;
        return r;
    }
    if (strPath.size() >= 2 && strPath[0] == '\\' && strPath[1] == '\\') {
        r.eKind = RootRef::Network;
        return r;
    }
    if (!strPath.empty() && strPath[0] == '/') {
        r.eKind = RootRef::Host;
        r.strHostPath = strPath;
    }
    return r;
}

// The nearest existing folder at or above an absolute host path, canonical.
bool NearestExisting(const std::string& strPath, std::string* pExisting) {
    std::string s = strPath;
    while (true) {
        char* pReal = realpath(s.c_str(), nullptr);
        if (pReal) {
            *pExisting = pReal;
            free(pReal);
            return true;
        }
        if (s == "/" || s.empty()) return false;
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        size_t n = s.rfind('/');
        s = n == 0 ? std::string("/") : s.substr(0, n);
    }
}

DWORD HostFreeSpace(const std::string& strHostPath, DISK_FREE_SPACE* pFree) {
    std::string strExisting;
    if (!NearestExisting(strHostPath, &strExisting)) return kWinErrPathNotFound;
    struct statvfs sv;
    if (statvfs(strExisting.c_str(), &sv) != 0) return errno == EACCES ? kWinErrAccessDenied : kWinErrNotReady;
    uint64_t qwUnit = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
    DISK_FREE_SPACE f;
    f.dwBytesPerSector = 512;
    f.dwSectorsPerCluster = static_cast<DWORD>(std::max<uint64_t>(1, qwUnit / 512));
    f.qwFreeClusters = sv.f_bfree;
    f.qwTotalClusters = sv.f_blocks;
    f.qwFreeBytesAvailableToCaller = static_cast<uint64_t>(sv.f_bavail) * qwUnit;
    f.qwTotalBytes = static_cast<uint64_t>(sv.f_blocks) * qwUnit;
    f.qwTotalFreeBytes = static_cast<uint64_t>(sv.f_bfree) * qwUnit;
    *pFree = f;
    return kWinErrSuccess;
}

UINT HostDriveType(const std::string& strHostPath) {
    std::string strExisting;
    if (!NearestExisting(strHostPath, &strExisting)) return kDriveNoRootDir;
    struct statfs sf;
    if (statfs(strExisting.c_str(), &sf) != 0) return kDriveUnknown;
    switch (static_cast<unsigned long>(sf.f_type)) {
    case 0x6969UL:        // NFS
    case 0x517BUL:        // SMB
    case 0xFF534D42UL:    // CIFS
    case 0xFE534D42UL:    // SMB2
    case 0x65735546UL:    // FUSE (sshfs and the like are usually remote)
        return kDriveRemote;
    case 0x9660UL:        // ISO 9660
    case 0x15013346UL:    // UDF
        return kDriveCdrom;
    case 0x01021994UL:    // tmpfs
    case 0x858458F6UL:    // ramfs
        return kDriveRamdisk;
    default:
        break;
    }
    struct stat st;
    if (stat(strExisting.c_str(), &st) == 0 && major(st.st_dev) != 0) {
        char sz[96];
        snprintf(sz, sizeof(sz), "/sys/dev/block/%u:%u", major(st.st_dev), minor(st.st_dev));
        std::string strSys = sz;
        std::string strRemovable = SysText(strSys + "/removable");
        if (strRemovable.empty()) strRemovable = SysText(strSys + "/../removable");
        if (strRemovable == "1") return kDriveRemovable;
    }
    return kDriveFixed;
}

DWORD HostVolumeInformation(const std::string& strHostPath, VOLUME_INFORMATION* pInfo) {
    std::string strExisting;
    if (!NearestExisting(strHostPath, &strExisting)) return kWinErrPathNotFound;
    struct statvfs sv;
    if (statvfs(strExisting.c_str(), &sv) != 0) return kWinErrNotReady;
    VOLUME_INFORMATION info;
    MountRec m;
    if (FindMountOf(strExisting, &m)) info.strFileSystemName = m.strFsType;
    info.dwSerialNumber = static_cast<DWORD>(sv.f_fsid ^ (static_cast<uint64_t>(sv.f_fsid) >> 32));
    info.dwMaxComponentLength = static_cast<DWORD>(sv.f_namemax);
    *pInfo = info;
    return kWinErrSuccess;
}

} // namespace

// ----- the table -------------------------------------------------------------------------------------

bool ReloadDiskTable(std::string* pstrError) {
    std::shared_ptr<const Table> pTable = LoadTable();
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        g_pTable = pTable;
    }
    if (pstrError) *pstrError = pTable->strError;
    return pTable->strError.empty();
}

std::string DiskTableError() { return CurrentTable()->strError; }

int GetPhysicalDriveCount() { return static_cast<int>(CurrentTable()->disks.size()); }

std::string GetPhysicalDrivePath(int nDiskNumber) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    if (nDiskNumber < 0 || nDiskNumber >= static_cast<int>(pTable->disks.size())) return std::string();
    return pTable->disks[nDiskNumber].strPath;
}

// ----- CRawDevice ------------------------------------------------------------------------------------

struct CRawDevice::CState {
    std::shared_ptr<const Table> pTable;
    const DriveRec* pDrive = nullptr;     // the disk or floppy whose bytes are read
    const VolumeRec* pVolume = nullptr;   // set for a letter volume on a disk
    int fd = -1;
    int nDiskNumber = -1;
    char chLetter = 0;
    bool bBlock = false;
    uint64_t qwDriveBytes = 0;            // size of the backing disk or floppy
    uint64_t qwWindowStart = 0;           // bytes; a volume's place on its disk
    uint64_t qwWindowBytes = 0;
    uint32_t dwSectorSize = 512;
    std::vector<std::pair<uint64_t, uint64_t>> badBytes;  // absolute byte spans on the drive, half-open

    ~CState() {
        if (fd >= 0) close(fd);
    }
};

CRawDevice::CRawDevice() = default;
CRawDevice::~CRawDevice() = default;
CRawDevice::CRawDevice(CRawDevice&& other) noexcept = default;
CRawDevice& CRawDevice::operator=(CRawDevice&& other) noexcept = default;

// Opens the backing file of a drive and learns its size and sector size.
struct CRawDeviceOpener {
    static std::unique_ptr<CRawDevice::CState> OpenDrive(std::shared_ptr<const Table> pTable, const DriveRec* pDrive) {
    auto p = std::make_unique<CRawDevice::CState>();
    if (pDrive->bOpenFail) {
        errno = EACCES;
        return nullptr;
    }
    // Read-only, always: there is no path in this layer by which a device byte could change.
    int fd = open(pDrive->strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    p->fd = fd;
    p->pTable = std::move(pTable);
    p->pDrive = pDrive;
    struct stat st;
    if (fstat(fd, &st) != 0) return nullptr;
    if (S_ISBLK(st.st_mode)) {
        p->bBlock = true;
        uint64_t qwBytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &qwBytes) != 0) return nullptr;
        p->qwDriveBytes = qwBytes;
        int nSector = 0;
        p->dwSectorSize = (ioctl(fd, BLKSSZGET, &nSector) == 0 && nSector > 0) ? static_cast<uint32_t>(nSector) : 512;
    } else if (S_ISREG(st.st_mode)) {
        p->qwDriveBytes = static_cast<uint64_t>(st.st_size);
        p->dwSectorSize = 512;
    } else {
        errno = ENODEV;
        return nullptr;
    }
    if (pDrive->dwSectorSize) p->dwSectorSize = pDrive->dwSectorSize;
    for (const BadRange& r : pDrive->badRanges) {
        // Saturate rather than wrap: a range past 2^64 bytes simply reaches the end.
        uint64_t a = r.qwFirst > UINT64_MAX / p->dwSectorSize ? UINT64_MAX : r.qwFirst * p->dwSectorSize;
        uint64_t b = r.qwEnd > UINT64_MAX / p->dwSectorSize ? UINT64_MAX : r.qwEnd * p->dwSectorSize;
        p->badBytes.emplace_back(a, b);
    }
    p->qwWindowStart = 0;
    p->qwWindowBytes = p->qwDriveBytes;
    return p;
}
};

bool CRawDevice::OpenPhysicalDrive(int nDiskNumber) {
    Close();
    if (nDiskNumber < 0 || nDiskNumber >= kMaxPhysicalDrives) {
        errno = EINVAL;
        return false;
    }
    std::shared_ptr<const Table> pTable = CurrentTable();
    if (nDiskNumber >= static_cast<int>(pTable->disks.size())) {
        errno = ENODEV;
        return false;
    }
    const DriveRec* pDrive = &pTable->disks[nDiskNumber];
    std::unique_ptr<CState> p = CRawDeviceOpener::OpenDrive(pTable, pDrive);
    if (!p) return false;
    p->nDiskNumber = nDiskNumber;
    m_pState = std::move(p);
    return true;
}

bool CRawDevice::OpenVolume(char chDriveLetter) {
    Close();
    if (!IsLetter(chDriveLetter)) {
        errno = EINVAL;
        return false;
    }
    std::shared_ptr<const Table> pTable = CurrentTable();
    std::unique_ptr<CState> p;
    if (const DriveRec* pFloppy = FindFloppy(*pTable, chDriveLetter)) {
        p = CRawDeviceOpener::OpenDrive(pTable, pFloppy);
        if (!p) return false;
    } else {
        const VolumeRec* pVolume = FindVolumeByLetter(*pTable, chDriveLetter);
        if (!pVolume || !pVolume->bOnDisk || pVolume->entry.nDiskNumber >= static_cast<int>(pTable->disks.size())) {
            errno = ENODEV;
            return false;
        }
        p = CRawDeviceOpener::OpenDrive(pTable, &pTable->disks[pVolume->entry.nDiskNumber]);
        if (!p) return false;
        p->pVolume = pVolume;
        p->nDiskNumber = pVolume->entry.nDiskNumber;
        uint64_t qwStart = pVolume->entry.qwStartSector * kUnit;
        uint64_t qwBytes = pVolume->entry.qwSectorCount * kUnit;
        // A volume that runs past the end of its disk reads only what the disk holds.
        p->qwWindowStart = std::min(qwStart, p->qwDriveBytes);
        p->qwWindowBytes = std::min(qwBytes, p->qwDriveBytes - p->qwWindowStart);
    }
    p->chLetter = UpperLetter(chDriveLetter);
    m_pState = std::move(p);
    return true;
}

bool CRawDevice::OpenDevicePath(const std::string& strDevicePath) {
    const std::string strPrefix = "\\\\.\\";
    if (!StartsWithNoCase(strDevicePath, strPrefix)) {
        Close();
        errno = ENOENT;
        return false;
    }
    std::string strRest = strDevicePath.substr(strPrefix.size());
    if (strRest.size() == 2 && strRest[1] == ':') return OpenVolume(strRest[0]);
    if (StartsWithNoCase(strRest, "PHYSICALDRIVE")) {
        std::string strNumber = strRest.substr(13);
        uint64_t n = 0;
        if (!strNumber.empty() && std::all_of(strNumber.begin(), strNumber.end(), ::isdigit) &&
            ParseUnsigned(strNumber, &n) && n < static_cast<uint64_t>(kMaxPhysicalDrives))
            return OpenPhysicalDrive(static_cast<int>(n));
    }
    Close();
    errno = ENOENT;
    return false;
}

void CRawDevice::Close() { m_pState.reset(); }

bool CRawDevice::IsOpen() const { return m_pState && m_pState->fd >= 0; }

int64_t CRawDevice::ReadAt(uint64_t qwOffset, void* pBuffer, size_t nBytes) const {
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    const CState& s = *m_pState;
    if (nBytes > static_cast<size_t>(INT64_MAX) || qwOffset > UINT64_MAX - nBytes) {
        errno = EINVAL;
        return -1;
    }
    if (qwOffset >= s.qwWindowBytes || nBytes == 0) return 0;
    uint64_t qwWant = std::min<uint64_t>(nBytes, s.qwWindowBytes - qwOffset);
    uint64_t qwAbs = s.qwWindowStart + qwOffset;
    for (const auto& r : s.badBytes) {
        // Half-open spans: touching an edge is no overlap.
        if (qwAbs < r.second && qwAbs + qwWant > r.first) {
            errno = EIO;
            return -1;
        }
    }
    uint8_t* pOut = static_cast<uint8_t*>(pBuffer);
    uint64_t qwDone = 0;
    while (qwDone < qwWant) {
        // One pread moves at most about 2 GiB; larger requests continue in the loop.
        size_t nChunk = static_cast<size_t>(std::min<uint64_t>(qwWant - qwDone, 1ull << 30));
        ssize_t n = pread(s.fd, pOut + qwDone, nChunk, static_cast<off_t>(qwAbs + qwDone));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;  // the backing file shrank since it was opened
        qwDone += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(qwDone);
}

int CRawDevice::DiskNumber() const { return m_pState ? m_pState->nDiskNumber : -1; }

char CRawDevice::DriveLetter() const { return m_pState ? m_pState->chLetter : 0; }

const std::string& CRawDevice::BackingPath() const {
    static const std::string kNone;
    return m_pState && m_pState->pDrive ? m_pState->pDrive->strPath : kNone;
}

bool CRawDevice::GetGeometry(DISK_GEOMETRY* pGeometry) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    const DriveRec& d = *s.pDrive;
    if (d.geometry.eAnswer == Answer::Fail) {
        errno = EIO;
        return false;
    }
    DISK_GEOMETRY g{};
    g.BytesPerSector = s.dwSectorSize;
    g.MediaType = kMediaFixed;
    bool bFloppy = d.chLetter != 0;
    if (bFloppy) {
        DWORD dwMedia = kMediaRemovable;
        uint64_t c = 0;
        DWORD h = 2, sec = 18;
        if (!StandardFloppy(s.qwDriveBytes, &dwMedia, &c, &h, &sec)) c = s.qwDriveBytes / (uint64_t(h) * sec * 512);
        g.MediaType = dwMedia;
        g.Cylinders = static_cast<LONGLONG>(c);
        g.TracksPerCylinder = h;
        g.SectorsPerTrack = sec;
    } else {
        DWORD h = kDefaultHeads, sec = kDefaultSectorsPerTrack;
        if (s.bBlock && d.geometry.eAnswer == Answer::Default) {
            hd_geometry hg{};
            if (ioctl(s.fd, HDIO_GETGEO, &hg) == 0 && hg.heads != 0 && hg.sectors != 0) {
                h = hg.heads;
                sec = hg.sectors;
            }
        }
        // HDIO_GETGEO's cylinder field is 16 bits wide; the count comes from the size instead.
        g.Cylinders = static_cast<LONGLONG>(s.qwDriveBytes / (uint64_t(h) * sec * s.dwSectorSize));
        g.TracksPerCylinder = h;
        g.SectorsPerTrack = sec;
    }
    if (d.geometry.eAnswer == Answer::Value) {
        g.Cylinders = static_cast<LONGLONG>(d.geometry.qwCylinders);
        g.TracksPerCylinder = d.geometry.dwHeads;
        g.SectorsPerTrack = d.geometry.dwSectors;
    }
    if (d.bMediaGiven) g.MediaType = d.dwMedia;
    *pGeometry = g;
    return true;
}

bool CRawDevice::GetLengthInfo(uint64_t* pqwLengthBytes) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    if (s.pVolume || s.pDrive->chLetter) {  // a volume's own length
        *pqwLengthBytes = s.qwWindowBytes;
        return true;
    }
    if (s.pDrive->eLength == Answer::Fail) {
        errno = EIO;
        return false;
    }
    *pqwLengthBytes = s.pDrive->eLength == Answer::Value ? s.pDrive->qwLength : s.qwDriveBytes;
    return true;
}

bool CRawDevice::ScsiReadCapacity(int nTargetId, SCSI_READ_CAPACITY* pCapacity) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    const DriveRec& d = *s.pDrive;
    if (nTargetId < 0 || nTargetId > 1 || d.chLetter) {  // floppies have no SCSI target
        errno = ENODEV;
        return false;
    }
    const ReadCapacityRule& rule = d.readCapacity[nTargetId];
    if (rule.eAnswer == Answer::Fail) {
        errno = EIO;
        return false;
    }
    if (rule.eAnswer == Answer::Value) {
        pCapacity->dwLastLba = rule.value.dwLastLba;
        pCapacity->dwBlockLength = rule.bBlockGiven ? rule.value.dwBlockLength : s.dwSectorSize;
        return true;
    }
    // The disk's own class driver fills in the address, so both target ids reach the same drive.
    if (s.bBlock && !d.bFromTable) return SgReadCapacity(s.fd, pCapacity);
    uint64_t qwLength = d.eLength == Answer::Value ? d.qwLength : s.qwDriveBytes;
    uint64_t qwBlocks = qwLength / s.dwSectorSize;
    if (qwBlocks == 0) {
        errno = EIO;
        return false;
    }
    // READ CAPACITY(10) reports 0xFFFFFFFF when the last block does not fit in 32 bits.
    pCapacity->dwLastLba = qwBlocks - 1 > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(qwBlocks - 1);
    pCapacity->dwBlockLength = s.dwSectorSize;
    return true;
}

bool CRawDevice::GetStorageDescriptor(STORAGE_DESCRIPTOR_INFO* pDescriptor) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    const DriveRec& d = *s.pDrive;
    if (d.bDescriptorFail || d.chLetter) {
        errno = EIO;
        return false;
    }
    if (d.bDescriptorGiven) {
        *pDescriptor = d.descriptor;
        return true;
    }
    if (s.bBlock && SysDescriptor(d.strPath, pDescriptor)) return true;
    STORAGE_DESCRIPTOR_INFO info;
    std::string strName = d.strPath.substr(d.strPath.rfind('/') + 1);
    info.strProductId = strName.substr(0, 40);
    *pDescriptor = info;
    return true;
}

bool CRawDevice::GetDriveLayout(DriveLayoutForm eForm, std::vector<LAYOUT_PARTITION>* pPartitions) const {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    const CState& s = *m_pState;
    if (s.pVolume || s.pDrive->chLetter || s.nDiskNumber < 0) {  // only whole disks have a layout
        errno = ENOTTY;
        return false;
    }
    bool bAnswers = eForm == DriveLayoutForm::Ex ? s.pDrive->bLayoutEx : s.pDrive->bLayoutLegacy;
    if (!bAnswers) {
        errno = ENOTTY;
        return false;
    }
    std::vector<LAYOUT_PARTITION> parts;
    for (const VolumeRec& v : s.pTable->volumes) {
        if (!v.bOnDisk || v.entry.nDiskNumber != s.nDiskNumber) continue;
        LAYOUT_PARTITION p;
        p.qwStartingOffset = v.entry.qwStartSector * kUnit;
        p.qwPartitionLength = v.entry.qwSectorCount * kUnit;
        p.dwPartitionNumber = v.entry.dwPartitionNumber;
        parts.push_back(p);
    }
    *pPartitions = parts;
    return true;
}

DWORD CRawDevice::QueryDriveLayoutBytes(DWORD dwIoctlCode, void* pOut, DWORD nOutSize, DWORD* pdwNeeded) const {
    if (pdwNeeded) *pdwNeeded = 0;
    if (!IsOpen()) return kWinErrInvalidHandle;
    DriveLayoutForm eForm;
    if (dwIoctlCode == kIoctlDiskGetDriveLayoutEx) eForm = DriveLayoutForm::Ex;
    else if (dwIoctlCode == kIoctlDiskGetDriveLayout) eForm = DriveLayoutForm::Legacy;
    else return kWinErrInvalidFunction;
    std::vector<LAYOUT_PARTITION> parts;
    if (!GetDriveLayout(eForm, &parts)) return kWinErrInvalidFunction;
    const uint64_t qwHeader = eForm == DriveLayoutForm::Ex ? 48 : 8;
    const uint64_t qwEntry = eForm == DriveLayoutForm::Ex ? 144 : 32;
    uint64_t qwNeeded = qwHeader + qwEntry * parts.size();
    if (pdwNeeded) *pdwNeeded = static_cast<DWORD>(qwNeeded);
    if (!pOut || nOutSize < qwNeeded) return kWinErrInsufficientBuffer;
    uint8_t* p = static_cast<uint8_t*>(pOut);
    memset(p, 0, static_cast<size_t>(qwNeeded));
    if (eForm == DriveLayoutForm::Ex) {
        rvd::StoreLE32(p + 0, 0);  // partition style: MBR
        rvd::StoreLE32(p + 4, static_cast<uint32_t>(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) {
            uint8_t* e = p + qwHeader + qwEntry * i;
            rvd::StoreLE64(e + 8, parts[i].qwStartingOffset);
            rvd::StoreLE64(e + 16, parts[i].qwPartitionLength);
            rvd::StoreLE32(e + 24, parts[i].dwPartitionNumber);
        }
    } else {
        rvd::StoreLE32(p + 0, static_cast<uint32_t>(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) {
            uint8_t* e = p + qwHeader + qwEntry * i;
            rvd::StoreLE64(e + 0, parts[i].qwStartingOffset);
            rvd::StoreLE64(e + 8, parts[i].qwPartitionLength);
            rvd::StoreLE32(e + 16, static_cast<uint32_t>(parts[i].qwStartingOffset / kUnit));  // hidden sectors
            rvd::StoreLE32(e + 20, parts[i].dwPartitionNumber);
            e[26] = 1;  // recognised partition
        }
    }
    return kWinErrSuccess;
}

bool QueryStorageDescriptor(int nDiskNumber, STORAGE_DESCRIPTOR_INFO* pDescriptor) {
    CRawDevice dev;
    return dev.OpenPhysicalDrive(nDiskNumber) && dev.GetStorageDescriptor(pDescriptor);
}

std::string BusTypeName(DWORD dwBusType) {
    switch (dwBusType) {
    case 1: return "SCSI Disk Device";
    case 2: return "ATAPI Bus";
    case 3: return "ATA Bus";
    case 4: return "1394 Disk Device";
    case 5: return "SSA Disk Device";
    case 6: return "FIBER Disk Device";
    case 7: return "USB Device";
    case 8: return "RAID Disk Device";
    default: return std::string();
    }
}

// ----- mount-point manager and volume names ----------------------------------------------------------

bool MountPointManagerAvailable() { return !CurrentTable()->bMountManagerFail; }

bool QueryMountPoints(int nDiskNumber, DWORD dwPartitionNumber, std::vector<std::u16string>* pLinks) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    if (pTable->bMountManagerFail) {
        errno = EACCES;
        return false;
    }
    for (const VolumeRec& v : pTable->volumes) {
        if (!v.bOnDisk || v.entry.nDiskNumber != nDiskNumber || v.entry.dwPartitionNumber != dwPartitionNumber) continue;
        std::vector<std::u16string> links;
        if (v.entry.chDriveLetter) {
            std::string s = std::string("\\DosDevices\\") + v.entry.chDriveLetter + ":";
            links.push_back(rvd::Utf8ToUtf16(s));
        }
        // "\\?\Volume{...}\" in Win32 form is "\??\Volume{...}" in the manager's own form.
        std::string strGuid = v.entry.strVolumeGuidPath;
        std::string strNt = "\\??\\" + strGuid.substr(4, strGuid.size() - 5);
        links.push_back(rvd::Utf8ToUtf16(strNt));
        *pLinks = links;
        return true;
    }
    errno = ENODEV;
    return false;
}

bool QueryMountPoints(const std::u16string& strDeviceName, std::vector<std::u16string>* pLinks) {
    std::string s = rvd::Utf16ToUtf8(strDeviceName);
    unsigned uDisk = 0, uPartition = 0;
    int nUsed = 0;
    const std::string strPrefix = "\\Device\\Harddisk";
    if (StartsWithNoCase(s, strPrefix)) {
        std::string strRest = s.substr(strPrefix.size());
        // Lower-case the keyword so sscanf can match it; the digits are unaffected.
        for (char& c : strRest) c = static_cast<char>(tolower((unsigned char)c));
        if (sscanf(strRest.c_str(), "%u\\partition%u%n", &uDisk, &uPartition, &nUsed) == 2 &&
            static_cast<size_t>(nUsed) == strRest.size() && uDisk < static_cast<unsigned>(kMaxPhysicalDrives))
            return QueryMountPoints(static_cast<int>(uDisk), uPartition, pLinks);
    }
    if (CurrentTable()->bMountManagerFail) errno = EACCES;
    else errno = ENODEV;
    return false;
}

std::vector<VOLUME_ENTRY> GetVolumes() {
    std::shared_ptr<const Table> pTable = CurrentTable();
    std::vector<VOLUME_ENTRY> out;
    for (const VolumeRec& v : pTable->volumes) out.push_back(v.entry);
    return out;
}

bool FindVolume(int nDiskNumber, uint64_t qwStartSector, uint64_t qwSectorCount, VOLUME_ENTRY* pVolume) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    for (const VolumeRec& v : pTable->volumes) {
        if (v.bOnDisk && v.entry.nDiskNumber == nDiskNumber && v.entry.qwStartSector == qwStartSector &&
            v.entry.qwSectorCount == qwSectorCount) {
            *pVolume = v.entry;
            return true;
        }
    }
    return false;
}

bool GetVolumePathNamesForVolumeName(const std::string& strVolumeGuidPath, std::vector<std::string>* pPaths) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    const VolumeRec* pVolume = FindVolumeByGuidPath(*pTable, strVolumeGuidPath);
    if (!pVolume) {
        errno = ENOENT;
        return false;
    }
    std::vector<std::string> paths;
    if (pVolume->entry.chDriveLetter) paths.push_back(std::string(1, pVolume->entry.chDriveLetter) + ":\\");
    if (!pVolume->entry.strMountFolder.empty()) paths.push_back(pVolume->entry.strMountFolder);
    *pPaths = paths;
    return true;
}

bool QueryDosDevice(char chDriveLetter, std::string* pstrTarget) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    const VolumeRec* pVolume = FindVolumeByLetter(*pTable, chDriveLetter);
    if (!pVolume || !IsLetter(chDriveLetter)) {
        errno = ENOENT;
        return false;
    }
    *pstrTarget = pVolume->entry.strDosDeviceName;
    return true;
}

// ----- drive letters and folders ---------------------------------------------------------------------

DWORD GetLogicalDrives() {
    std::shared_ptr<const Table> pTable = CurrentTable();
    DWORD dwMask = 0;
    for (const VolumeRec& v : pTable->volumes)
        if (v.entry.chDriveLetter >= 'A' && v.entry.chDriveLetter <= 'Z') dwMask |= 1u << (v.entry.chDriveLetter - 'A');
    return dwMask;
}

std::vector<std::string> GetLogicalDriveStrings() {
    DWORD dwMask = GetLogicalDrives();
    std::vector<std::string> roots;
    for (int i = 0; i < 26; ++i)
        if (dwMask & (1u << i)) roots.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
    return roots;
}

UINT GetDriveType(const std::string& strRoot) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    RootRef r = ResolveRoot(*pTable, strRoot);
    switch (r.eKind) {
    case RootRef::Letter:
    case RootRef::GuidVolume:
        return r.pVolume ? r.pVolume->uDriveType : kDriveNoRootDir;
    case RootRef::Host:
        return HostDriveType(r.strHostPath);
    default:
        return kDriveNoRootDir;
    }
}

DWORD GetVolumeInformation(const std::string& strRoot, VOLUME_INFORMATION* pInfo) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    RootRef r = ResolveRoot(*pTable, strRoot);
    switch (r.eKind) {
    case RootRef::Letter:
    case RootRef::GuidVolume: {
        if (!r.pVolume) return kWinErrPathNotFound;
        const VolumeRec& v = *r.pVolume;
        if (v.dwVolumeError) return v.dwVolumeError;
        if (!v.bFsGiven && v.entry.strMountFolder.empty()) return kWinErrNotReady;
        VOLUME_INFORMATION info;
        if (!v.entry.strMountFolder.empty()) {
            DWORD dwErr = HostVolumeInformation(v.entry.strMountFolder, &info);
            if (dwErr) return dwErr;
        }
        info.strVolumeName = v.entry.strLabel;
        if (!v.entry.strFileSystem.empty()) info.strFileSystemName = v.entry.strFileSystem;
        if (info.dwSerialNumber == 0)
            info.dwSerialNumber = static_cast<DWORD>(v.entry.qwStartSector * 2654435761u) ^ static_cast<DWORD>(v.entry.nDiskNumber + 1);
        *pInfo = info;
        return kWinErrSuccess;
    }
    case RootRef::Host:
        return HostVolumeInformation(r.strHostPath, pInfo);
    case RootRef::Network:
        return kWinErrBadNetPath;  // no network shares by UNC name on this platform
    default:
        return kWinErrInvalidName;
    }
}

DWORD GetDiskFreeSpace(const std::string& strPath, DISK_FREE_SPACE* pFree) {
    std::shared_ptr<const Table> pTable = CurrentTable();
    RootRef r = ResolveRoot(*pTable, strPath);
    switch (r.eKind) {
    case RootRef::Letter:
    case RootRef::GuidVolume: {
        if (!r.pVolume) return kWinErrPathNotFound;
        const VolumeRec& v = *r.pVolume;
        if (v.bFreeGiven) {
            uint64_t qwTotal = v.bTotalGiven ? v.qwTotal : std::max(v.qwFree, v.entry.qwSectorCount * kUnit);
            DISK_FREE_SPACE f;
            f.dwBytesPerSector = 512;
            f.dwSectorsPerCluster = 8;
            f.qwFreeClusters = v.qwFree / 4096;
            f.qwTotalClusters = qwTotal / 4096;
            f.qwFreeBytesAvailableToCaller = v.qwFree;
            f.qwTotalFreeBytes = v.qwFree;
            f.qwTotalBytes = qwTotal;
            *pFree = f;
            return kWinErrSuccess;
        }
        if (v.entry.strMountFolder.empty()) return kWinErrNotReady;
        DWORD dwErr = HostFreeSpace(v.entry.strMountFolder + r.strRest, pFree);
        if (dwErr == kWinErrSuccess && v.bTotalGiven) pFree->qwTotalBytes = v.qwTotal;
        return dwErr;
    }
    case RootRef::Host:
        return HostFreeSpace(r.strHostPath, pFree);
    case RootRef::Network:
        return kWinErrBadNetPath;
    default:
        return kWinErrInvalidName;
    }
}

DWORD GetDiskFreeSpace(const std::u16string& strPath, DISK_FREE_SPACE* pFree) {
    return GetDiskFreeSpace(rvd::Utf16ToUtf8(strPath), pFree);
}

} // namespace rvdplat
