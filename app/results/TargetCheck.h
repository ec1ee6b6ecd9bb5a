// The checks a target folder must pass before the copy-out may write into it, and the message
// each failure shows. Paths are host paths: absolute, '/'-separated, UTF-8 on the way down.
#pragma once

#include <QString>

#include <cstdint>

#include "FolderProbe.h"

enum : uint32_t {
    TARGET_OK = 0,
    TARGET_NO_DRIVE = 0x1002001,       // the first folder below "/" does not exist
    TARGET_NOT_FORMATTED = 0x1002002,
    TARGET_INVALID_NAME = 0x1002003,   // a "." or ".." part, or a file where a folder should be
    TARGET_RAM_DISK = 0x1002004,
    TARGET_NOT_READY = 0x1002005,      // the file system does not answer
    TARGET_NOT_WRITABLE = 0x1002006,   // read-only or optical mount, or the write test failed
    TARGET_NOT_ABSOLUTE = 0x1002007,
    TARGET_BAD_PARAMETER = 0x1002008,
    TARGET_BAD_SYMBOL = 0x1002009,
    TARGET_TOO_LONG = 0x100200A,
    TARGET_EMPTY = 0x100200B,
    TARGET_NO_MEDIUM = 0x100200C,
};

// Longest target accepted, in UTF-16 units: the copy-out adds its run folder and the found
// names below it within a 260-unit path buffer.
constexpr int TARGET_MAX_LENGTH = 245;

// The name the write test's file starts with (a random suffix follows).
extern const char* const TARGET_WRITE_TEST_NAME;

// Syntax, then the file system behind the path, then a write test in the deepest folder of the
// path that exists (a folder that does not exist yet is made there by the copy-out). Fills
// *pProbe (may be null) with what was found of that folder.
uint32_t CheckTargetFolder(const QString& strPath, rvdplat::FOLDER_PROBE* pProbe);

// The message shown for a code; "Unknown error!" for a code of no check.
QString TargetErrorText(uint32_t dwCode);
