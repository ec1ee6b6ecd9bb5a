// The folder one copy-out writes into, and everything below it.
//
// The run folder is made fresh (mkdirat, a numbered name when the wanted one is taken) in the
// target folder, and every folder and file below it is made by this class, relative to an
// open descriptor of its parent: mkdirat, then openat with O_DIRECTORY|O_NOFOLLOW on every
// level, and files with O_CREAT|O_EXCL|O_NOFOLLOW. Nothing that existed before is ever opened
// below the target, so a symbolic link planted in the target (or swapped in for one of our
// folders while we work) is never followed, and no write can land outside the run folder.
//
// Folder names come from the disk and are sanitised (SafeName.h). Folders of the same name as
// found share one folder; a sanitised name that is already taken in its folder (by another
// name that sanitises alike, by a file or by a folder) gets a numbered suffix. Only two folder descriptors are open at a time, so depth costs
// nothing but the walk when the folder changes.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tessary {

class CRunFolder {
public:
    CRunFolder();
    ~CRunFolder();
    CRunFolder(const CRunFolder&) = delete;
    CRunFolder& operator=(const CRunFolder&) = delete;

    // Opens the target folder (an absolute path; the user's own folders, so links in it are
    // followed and missing levels are made) and makes the run folder strBaseName, or
    // "strBaseName (n)", in it. False with errno and *pstrWhat (the path that failed).
    bool Create(const std::string& strTarget, const std::string& strBaseName, std::string* pstrWhat);

    // Full path of the run folder.
    const std::string& Path() const { return m_strPath; }

    // Descriptor of the folder below the run folder named by vecFolders (names as found), made
    // as needed; valid until the next call. -1 with errno on failure; *pstrRelative gets the
    // folder's path below the run folder as made (so far, on failure).
    int OpenFolder(const std::vector<std::u16string>& vecFolders, std::string* pstrRelative);

    // Creates a new file for writing in the folder that OpenFolder returned last. -1 with errno
    // on failure; *pstrName gets the name as made.
    int CreateFile(const std::u16string& strName, std::string* pstrName);

    // Removes a file that CreateFile made in the current folder (an unfinished copy).
    void RemoveFile(const std::string& strName);

private:
    struct FOLDER_NODE {
        std::string strDiskName;
        std::map<std::u16string, std::unique_ptr<FOLDER_NODE>> mapChildren;
        // Next suffix number per sanitised name, so that many alike names cost one try each.
        std::unordered_map<std::string, unsigned> mapNextNumber;
    };

    // Makes a new entry strWanted, or a numbered form of it, in the folder of pNode: make(name)
    // returns >= 0 or -1 with errno (EEXIST moves on to the next number). Returns make's result
    // and *pstrMade, or -1 with errno.
    template <typename MAKE>
    int MakeUnique(FOLDER_NODE* pNode, const std::string& strWanted, MAKE make, std::string* pstrMade);
    void CloseCurrent();

    int m_nRunFd;
    std::string m_strPath;
    FOLDER_NODE m_Root;
    FOLDER_NODE* m_pCurrent;
    int m_nCurrentFd;
    std::string m_strCurrentRelative;
};

} // namespace tessary
