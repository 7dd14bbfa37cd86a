#pragma once

#if defined(TAVROLIN_BUILDING_LIBRARY)
#define TAVROLIN_EXPORT __attribute__((visibility("default")))
#else
#define TAVROLIN_EXPORT
#endif
