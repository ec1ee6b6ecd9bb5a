#include "XCharError.h"

#include <cstdio>
#include <cstring>

namespace dnc {

XCharError::XCharError(int32_t nError) : m_nError(nError)
{
    std::snprintf(m_szMessage, sizeof(m_szMessage), "XCharError:%i", static_cast<int>(nError));
}

XCharError::XCharError(const XCharError& other) : std::exception(other), m_nError(other.m_nError)
{
    std::memcpy(m_szMessage, other.m_szMessage, sizeof(m_szMessage));
}

XCharError& XCharError::operator=(const XCharError& other)
{
    std::exception::operator=(other);
    std::memcpy(m_szMessage, other.m_szMessage, sizeof(m_szMessage));
    m_nError = other.m_nError;
    return *this;
}

XCharError::~XCharError() = default;

const char* XCharError::what() const noexcept
{
    return m_szMessage;
}

} // namespace dnc
