// Symbol visibility of the common settings library. The library is built with hidden
// visibility; only what the other deliverables link against is marked for export, so the
// settings singleton has exactly one definition in the process.
#pragma once

#define CRVDPUBLIC_API __attribute__((visibility("default")))
