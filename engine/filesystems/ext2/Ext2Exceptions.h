// What the EXT2/EXT3 reader throws. The classes carry no data: the type says what went wrong,
// and the callers catch std::exception at their boundary (the recogniser reports an unknown file
// system, the tree builder returns no tree, the search controller logs the type and goes on).
#pragma once

#include <exception>

// The superblock fails the validity test, or the file system it describes is larger than the
// device that holds it.
class CExt2BadSuperBlock : public std::exception {
public:
    const char* what() const noexcept override;
};

// No copy of the group-descriptor table places every group's bitmaps and inode table inside
// its own group.
class CExt2BadGroupDescriptor : public std::exception {
public:
    const char* what() const noexcept override;
};

// The device failed a read; the buffer of that read has been zero-filled.
class CExt2ReadSectorError : public std::exception {
public:
    const char* what() const noexcept override;
};
