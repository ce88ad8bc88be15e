// HS_AVX2_KLON marks a function of per-bin loops to be compiled twice, for AVX2 and for
// the baseline, with the choice made once at load time. The clone computes the same
// operations in the same order (AVX2 brings no fused multiply-add), so results do not
// depend on the processor. Thread sanitizer builds get one version only: their runtime
// is not ready when the loader resolves such functions.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define HS_AVX2_KLON
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HS_AVX2_KLON
#endif
#endif

#if !defined(HS_AVX2_KLON) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define HS_AVX2_KLON [[gnu::target_clones("avx2", "default")]]
#endif

#ifndef HS_AVX2_KLON
#define HS_AVX2_KLON
#endif
