#pragma once

// The library is built with -fvisibility=hidden; only what carries this mark is exported.
#define NR_DRIVER_EXPORT __attribute__((visibility("default")))
