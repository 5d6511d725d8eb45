// Where the compiler and the loader allow it, a hot loop marked TARN_WIDE_CLONES is also
// built for AVX2 and the better version is picked at start-up. The arithmetic is the same
// (the build forms no fused multiply-adds), only wider, so both versions give the same bits.
#pragma once

// The thread sanitizer instruments the clones' resolvers, which the loader runs before the
// sanitizer is ready: under it there is only the plain version.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARN_NO_WIDE_CLONES
#endif
#endif

#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(TARN_NO_WIDE_CLONES)
#define TARN_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARN_WIDE_CLONES
#endif

// The same for a routine that takes the blocks it calls inline, so they are built wide too.
// Clang refuses flatten on a multiversioned routine; there it stays a plain clone.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__clang__) &&       \
    !defined(TARN_NO_WIDE_CLONES)
#define TARN_WIDE_CLONES_FLAT [[gnu::flatten]] TARN_WIDE_CLONES
#else
#define TARN_WIDE_CLONES_FLAT TARN_WIDE_CLONES
#endif
