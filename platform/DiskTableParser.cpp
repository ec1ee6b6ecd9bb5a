// The disk table in force: RAVENDO_DEVICE_TABLE's test table (see DiskTable.h for its format) or
// the disks of RAVENDO_DISKS or of the machine, loaded on first use and on ReloadDiskTable.
#include "DiskTableModel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>

namespace rvdplat {

namespace {

using namespace disktable;

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

} // namespace

using namespace disktable;

namespace disktable {

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

} // namespace disktable

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

} // namespace rvdplat
