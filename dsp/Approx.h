// The processor's fast reciprocal and reciprocal-square-root approximations
// (about 12 bits). Gain control uses them; every path that must agree bit for
// bit with another calls these same instructions.
#pragma once

#include <smmintrin.h>

inline float approxRcp(float x)
{
    return _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(x)));
}

inline float approxRsqrt(float x)
{
    return _mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(x)));
}
