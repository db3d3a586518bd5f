// Kernels get AVX2 (or FMA) clones beside their baseline code where the compiler makes them.
// QV_CLONES(targets...) clones a plain function on every compiler; QV_TEMPLATE_CLONES clones a
// function template on GCC only: clang, which builds the fuzz targets, has no clones of
// templates and compiles the baseline alone. The baseline build of the kernels
// (QV_BASELINE_KERNELS) makes no clones, so its tests prove the code of CPUs without AVX2.
#pragma once

#if defined(QV_BASELINE_KERNELS)
#define QV_CLONES(...)
#define QV_TEMPLATE_CLONES
#elif defined(__clang__)
#define QV_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#define QV_TEMPLATE_CLONES
#else
#define QV_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#define QV_TEMPLATE_CLONES QV_CLONES("avx2", "default")
#endif
