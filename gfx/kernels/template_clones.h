// Function templates of the kernels get AVX2 clones beside the baseline code where the
// compiler makes them (GCC); clang, which builds the fuzz targets, has no clones of templates
// and compiles the baseline alone.
#pragma once

#if defined(__clang__)
#define QV_TEMPLATE_CLONES
#else
#define QV_TEMPLATE_CLONES __attribute__((target_clones("avx2", "default")))
#endif
