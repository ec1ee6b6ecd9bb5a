// A label that looks like a hyperlink while the mouse is over it (underlined, bold, blue, with
// a pointing hand) and like a visited link once the mouse has left it.
#pragma once

#include <QCursor>
#include <QLabel>
#include <QString>

class CLinkLabel : public QLabel {
public:
    explicit CLinkLabel(const QString& strText, QWidget* pParent = nullptr);

    // Replaces the link text only; what the label shows follows at the next enter or leave.
    void setText(const QString& strText);
    QString text() const;

protected:
    void enterEvent(QEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;

private:
    QString m_strLinkText;
    QCursor m_cursorSaved;
};
