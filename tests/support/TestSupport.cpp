#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace rvdtest {

std::string FixtureDir()
{
    const char* pszEnv = std::getenv("RVD_FIXTURE_DIR");
    if (pszEnv != nullptr && *pszEnv != '\0')
        return pszEnv;
    return RVD_FIXTURE_DIR;
}

std::string FixturePath(const std::string& strName)
{
    return FixtureDir() + "/" + strName;
}

std::string SourceDir() { return RVD_SOURCE_DIR; }
std::string OutputDir() { return RVD_OUTPUT_DIR; }

CTempDir::CTempDir()
{
    std::string strTemplate = (std::filesystem::temp_directory_path() / "rvdtest-XXXXXX").string();
    std::vector<char> vecName(strTemplate.begin(), strTemplate.end());
    vecName.push_back('\0');
    if (mkdtemp(vecName.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    m_strPath = vecName.data();
}

CTempDir::~CTempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + strPath);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& strPath, const std::vector<uint8_t>& vecData)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(vecData.data()), static_cast<std::streamsize>(vecData.size()));
    if (!out)
        throw std::runtime_error("cannot write " + strPath);
}

} // namespace rvdtest
