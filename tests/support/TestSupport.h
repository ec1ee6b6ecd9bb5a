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

} // namespace rvdtest
