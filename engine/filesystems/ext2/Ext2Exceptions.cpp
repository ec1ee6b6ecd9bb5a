#include "Ext2Exceptions.h"

const char* CExt2BadSuperBlock::what() const noexcept
{
    return "CExt2BadSuperBlock";
}

const char* CExt2BadGroupDescriptor::what() const noexcept
{
    return "CExt2BadGroupDescriptor";
}

const char* CExt2ReadSectorError::what() const noexcept
{
    return "CExt2ReadSectorError";
}
