// The exception of the character-set routines: a value that has no UTF-8 form.
#pragma once

#include <cstdint>
#include <exception>

namespace dnc {

class XCharError : public std::exception {
public:
    // The message reads "XCharError:<value>".
    explicit XCharError(int32_t nError);
    XCharError(const XCharError& other);
    XCharError& operator=(const XCharError& other);
    ~XCharError() override;

    const char* what() const noexcept override;
    int32_t GetError() const { return m_nError; }

private:
    char m_szMessage[101];
    int32_t m_nError;
};

} // namespace dnc
