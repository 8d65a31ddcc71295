// Marks the functions that the shared library exports; everything else is
// hidden (the library is built with -fvisibility=hidden).
#pragma once

#define NOSQL_EXPORT extern "C" __attribute__((visibility("default")))
