#include "TypeInfoXml.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace {

bool IsShipped(const QDomElement& elem)
{
    return elem.attribute("IsDefault") == "1";
}

} // namespace

CTypeInfoXml::CTypeInfoXml(const QString& strPath)
    : m_strPath(strPath.isEmpty() ? DefaultPath() : strPath)
{
}

QString CTypeInfoXml::DefaultPath()
{
    return QStringLiteral("./Resources/TypeInfo.xml");
}

int CTypeInfoXml::ReadTypeInfo()
{
    QFile file(m_strPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return TYPEINFO_CANNOT_OPEN;
    m_reader.clear();
    m_reader.setDevice(&file);
    while (!m_reader.atEnd() && m_reader.name() != QLatin1String("TypeXML"))
        m_reader.readNext();
    while (!m_reader.atEnd()) {
        m_reader.readNext();
        if (!m_reader.isStartElement())
            continue;
        const QXmlStreamAttributes attrs = m_reader.attributes();
        TYPE_INFO_ITEM item;
        item.isRoot = attrs.value("IsRoot") == QLatin1String("1");
        item.description = attrs.value("Description").toString();
        item.iconType = attrs.value("IconType").toString();
        item.iconPath = attrs.value("IconPath").toString();
        item.filterType = attrs.value("FilterType").toString();
        const QStringRef strSelect = attrs.value("Select");
        item.select = strSelect == QLatin1String("0") ? 0 : strSelect == QLatin1String("1") ? 1 : 2;
        item.isDefault = attrs.value("IsDefault") == QLatin1String("1");
        m_vecItems.push_back(item);
    }
    m_reader.setDevice(nullptr);
    return 0;
}

bool CTypeInfoXml::LoadDocument()
{
    QFile file(m_strPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    return m_document.setContent(&file);
}

bool CTypeInfoXml::SaveDocument()
{
    // Written beside the catalogue and renamed over it: the old file stays whole until the new
    // one is complete.
    QSaveFile file(m_strPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    m_document.save(stream, 4);
    stream.flush();
    return stream.status() == QTextStream::Ok && file.commit();
}

bool CTypeInfoXml::AddCategory(TYPE_ADD_ITEM item)
{
    if (!LoadDocument())
        return false;
    QDomElement elem = m_document.createElement("Category");
    elem.setAttribute("Description", item.group);
    elem.setAttribute("IsRoot", "1");
    elem.setAttribute("IsDefault", "0");
    elem.setAttribute("IconPath", item.iconPath);
    elem.setAttribute("IconType", item.iconType);
    elem.setAttribute("Select", "0");
    const QDomNodeList listRoots = m_document.elementsByTagName("TypeXML");
    if (listRoots.isEmpty())
        return false;
    if (listRoots.at(0).appendChild(elem).isNull())
        return false;
    return SaveDocument();
}

bool CTypeInfoXml::AddFileType(TYPE_ADD_ITEM item)
{
    if (!LoadDocument())
        return false;
    QDomElement elem = m_document.createElement("FileType");
    elem.setAttribute("Description", item.description);
    elem.setAttribute("IsRoot", "0");
    elem.setAttribute("IsDefault", "0");
    elem.setAttribute("IconPath", item.iconPath);
    elem.setAttribute("IconType", item.iconType);
    elem.setAttribute("Select", "0");
    elem.setAttribute("FilterType", item.filterType.startsWith(';') ? item.filterType : ";" + item.filterType);
    const QDomNodeList listGroups = m_document.elementsByTagName("Category");
    for (int i = 0; i < listGroups.size(); ++i) {
        QDomElement elemGroup = listGroups.at(i).toElement();
        if (elemGroup.attribute("Description") == item.group) {
            if (elemGroup.appendChild(elem).isNull())
                return false;
            return SaveDocument();
        }
    }
    return false;
}

void CTypeInfoXml::RemoveFileTypeElement(QDomElement elemGroup, const QString& strType)
{
    for (QDomNode node = elemGroup.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement elem = node.toElement();
        if (!elem.isNull() && elem.attribute("Description") == strType) {
            if (!IsShipped(elem))
                elemGroup.removeChild(node);
            return;
        }
    }
}

int CTypeInfoXml::RemoveTypeInfo(QList<TYPE_REMOVE_ITEM> listItems)
{
    {
        QFile file(m_strPath);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return TYPEINFO_CANNOT_OPEN;
        if (!m_document.setContent(&file))
            return TYPEINFO_CANNOT_PARSE;
    }
    for (const TYPE_REMOVE_ITEM& item : listItems) {
        const QDomNodeList listGroups = m_document.elementsByTagName("Category");
        for (int i = 0; i < listGroups.size(); ++i) {
            QDomElement elemGroup = listGroups.at(i).toElement();
            if (elemGroup.attribute("Description") != item.group)
                continue;
            if (item.isCategory) {
                // A shipped group stays, and so does any group still holding a shipped type.
                bool bHoldsShipped = IsShipped(elemGroup);
                for (QDomElement child = elemGroup.firstChildElement(); !child.isNull() && !bHoldsShipped;
                     child = child.nextSiblingElement())
                    bHoldsShipped = IsShipped(child);
                if (!bHoldsShipped)
                    elemGroup.parentNode().removeChild(elemGroup);
            } else {
                RemoveFileTypeElement(elemGroup, item.fileType);
            }
            break;
        }
    }
    return SaveDocument() ? 0 : TYPEINFO_CANNOT_OPEN;
}
