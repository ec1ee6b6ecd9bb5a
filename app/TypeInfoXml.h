// The file-type catalogue "./Resources/TypeInfo.xml": groups (Category) of file types
// (FileType), all data in attributes, which the file-type page shows as a check tree and the
// user extends with groups and types of their own. Only the ticked types' extensions reach a
// scan, as its name filter; the engine never reads this file.
//
// Every edit parses the whole file and writes it back through QSaveFile, so a failed write
// (full disk, no permission) leaves the old catalogue whole. Entries shipped with the program
// (IsDefault="1") are never removed.
#pragma once

#include <QDomDocument>
#include <QList>
#include <QString>
#include <QXmlStreamReader>
#include <vector>

inline constexpr int TYPEINFO_CANNOT_OPEN = 0xF02;
inline constexpr int TYPEINFO_CANNOT_PARSE = 0xF0A;

struct TYPE_INFO_ITEM {
    bool isDefault = false;
    bool isRoot = false;
    int select = 2;   // 0 unchecked, 1 checked, 2 partially checked
    QString description;
    QString iconType;
    QString iconPath;
    QString filterType;
};

struct TYPE_ADD_ITEM {
    QString description;
    QString group;
    QString filterType;
    QString iconPath;
    QString iconType;
};

struct TYPE_REMOVE_ITEM {
    bool isCategory = false;
    QString group;
    QString fileType;
};

class CTypeInfoXml {
public:
    // The catalogue at strPath (the program's own one when empty).
    explicit CTypeInfoXml(const QString& strPath = QString());

    // Appends the catalogue's entries to the list, in document order. 0, or TYPEINFO_CANNOT_OPEN.
    int ReadTypeInfo();
    std::vector<TYPE_INFO_ITEM> GetTypeInfoList() const { return m_vecItems; }

    // True once the file has been written.
    bool AddCategory(TYPE_ADD_ITEM item);
    bool AddFileType(TYPE_ADD_ITEM item);
    // 0, TYPEINFO_CANNOT_OPEN (read or write) or TYPEINFO_CANNOT_PARSE.
    int RemoveTypeInfo(QList<TYPE_REMOVE_ITEM> listItems);

    static QString DefaultPath();

private:
    bool LoadDocument();
    bool SaveDocument();
    // Removes the first child of the group described so, unless it is a shipped entry.
    void RemoveFileTypeElement(QDomElement elemGroup, const QString& strType);

    QString m_strPath;
    QXmlStreamReader m_reader;
    QDomDocument m_document;
    std::vector<TYPE_INFO_ITEM> m_vecItems;
};
