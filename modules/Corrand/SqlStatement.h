// A prepared SQLite statement that finalizes itself, with the few binding and column helpers the
// store uses. Unsigned 64-bit values are kept in SQLite's signed integers bit for bit.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string_view>

namespace corrand {

class CSqlStatement {
public:
    CSqlStatement() = default;
    ~CSqlStatement() { Finalize(); }
    CSqlStatement(const CSqlStatement&) = delete;
    CSqlStatement& operator=(const CSqlStatement&) = delete;

    int Prepare(sqlite3* pDb, const char* pszSql)
    {
        Finalize();
        return sqlite3_prepare_v3(pDb, pszSql, -1, SQLITE_PREPARE_PERSISTENT, &m_pStatement, nullptr);
    }
    void Finalize()
    {
        sqlite3_finalize(m_pStatement);
        m_pStatement = nullptr;
    }
    // Ready for the next use; bindings are left to be overwritten.
    void Reset() { sqlite3_reset(m_pStatement); }
    int Step() { return sqlite3_step(m_pStatement); }
    sqlite3_stmt* Get() const { return m_pStatement; }

    void BindInt(int nIndex, int64_t i64Value) { sqlite3_bind_int64(m_pStatement, nIndex, i64Value); }
    void BindU64(int nIndex, uint64_t ullValue) { BindInt(nIndex, static_cast<int64_t>(ullValue)); }
    void BindNull(int nIndex) { sqlite3_bind_null(m_pStatement, nIndex); }
    // The text must stay alive until the statement has been stepped.
    void BindText16(int nIndex, std::u16string_view strText)
    {
        // SQLite reads a null pointer as NULL, not as an empty text.
        static const char16_t szEmpty[1] = {0};
        sqlite3_bind_text64(m_pStatement, nIndex,
                            reinterpret_cast<const char*>(strText.data() != nullptr ? strText.data() : szEmpty),
                            strText.size() * sizeof(char16_t), SQLITE_STATIC, SQLITE_UTF16LE);
    }
    void BindBlob(int nIndex, const void* pData, size_t nSize)
    {
        if (pData == nullptr || nSize == 0)
            sqlite3_bind_null(m_pStatement, nIndex);
        else
            sqlite3_bind_blob64(m_pStatement, nIndex, pData, nSize, SQLITE_STATIC);
    }

    int64_t ColumnInt(int nColumn) const { return sqlite3_column_int64(m_pStatement, nColumn); }
    uint64_t ColumnU64(int nColumn) const { return static_cast<uint64_t>(ColumnInt(nColumn)); }
    bool ColumnIsNull(int nColumn) const { return sqlite3_column_type(m_pStatement, nColumn) == SQLITE_NULL; }
    std::u16string_view ColumnText16(int nColumn) const
    {
        const void* p = sqlite3_column_text16(m_pStatement, nColumn);
        const int nBytes = sqlite3_column_bytes16(m_pStatement, nColumn);
        if (p == nullptr || nBytes <= 0)
            return std::u16string_view();
        return std::u16string_view(static_cast<const char16_t*>(p), static_cast<size_t>(nBytes) / sizeof(char16_t));
    }
    const uint8_t* ColumnBlob(int nColumn, size_t* pnSize) const
    {
        const void* p = sqlite3_column_blob(m_pStatement, nColumn);
        const int nBytes = sqlite3_column_bytes(m_pStatement, nColumn);
        *pnSize = (p != nullptr && nBytes > 0) ? static_cast<size_t>(nBytes) : 0;
        return static_cast<const uint8_t*>(p);
    }

private:
    sqlite3_stmt* m_pStatement = nullptr;
};

// Resets a statement when the scope that used it ends, whatever the path.
class CStatementUse {
public:
    explicit CStatementUse(CSqlStatement& statement) : m_Statement(statement) {}
    ~CStatementUse() { m_Statement.Reset(); }
    CStatementUse(const CStatementUse&) = delete;
    CStatementUse& operator=(const CStatementUse&) = delete;

private:
    CSqlStatement& m_Statement;
};

} // namespace corrand
