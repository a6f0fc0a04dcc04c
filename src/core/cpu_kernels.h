#pragma once

// TESK_CPU_KERNEL marks a loop-heavy function that is compiled several
// times, for the x86-64 feature levels v4 (AVX-512), v3 (AVX2) and the
// baseline; the loader picks the best one the processor runs.  Every copy
// is built from the same source with the same floating-point flags
// (-ffp-contract=off, no fast-math), so the copies give the same bytes and
// only their speed differs.  The functions must not be inline: each call
// goes through the selection.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(TESK_NO_CPU_KERNELS)
#define TESK_CPU_KERNEL __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define TESK_CPU_KERNEL
#endif
