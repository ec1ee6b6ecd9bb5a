#include "LinkLabel.h"

CLinkLabel::CLinkLabel(const QString& strText, QWidget* pParent)
    : QLabel(strText, pParent)
    , m_strLinkText(strText)
{
}

void CLinkLabel::setText(const QString& strText)
{
    m_strLinkText = strText;
}

QString CLinkLabel::text() const
{
    return m_strLinkText;
}

void CLinkLabel::enterEvent(QEvent*)
{
    m_cursorSaved = cursor();
    setCursor(Qt::PointingHandCursor);
    QLabel::setText(QString("<u><font color=blue><b>%1</b></font></u>").arg(m_strLinkText));
}

void CLinkLabel::leaveEvent(QEvent*)
{
    QLabel::setText(QString("<font color=#800080>%1</font>").arg(m_strLinkText));
    setCursor(m_cursorSaved);
}
