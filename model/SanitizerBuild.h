#pragma once

// POLYVANT_ASAN_BUILD is 1 when this code is compiled with AddressSanitizer. g++ says
// so with __SANITIZE_ADDRESS__; clang before 15 only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define POLYVANT_ASAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POLYVANT_ASAN_BUILD 1
#endif
#endif
#ifndef POLYVANT_ASAN_BUILD
#define POLYVANT_ASAN_BUILD 0
#endif
