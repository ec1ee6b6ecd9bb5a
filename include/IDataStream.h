// The byte stream through which every persisted engine record (tree roots, file properties,
// run lists, partition candidates, controller states) is written and read back. The result
// store hands one to the records' Save and Load; tests use CMemoryDataStream.
#pragma once

class IDataStream {
public:
    virtual ~IDataStream() {}

    // Both transfer nBytes from or to pBuffer and return the number of bytes actually
    // transferred. A record treats anything short of nBytes as the end of its data: a
    // damaged or truncated stream must never leave a half-read field looking valid.
    virtual int Read(void* pBuffer, int nBytes) = 0;
    virtual int Write(const void* pBuffer, int nBytes) = 0;
};
