// Which LDPC decoding the LDPC stage runs: the scaled profile on channel LLRs
// (the demapper's values scaled by the signal quality the frame's tag carries,
// or by the frame's own estimate), or the standard profile on the values as
// they come. Frames that cannot be scaled (APSK) take the standard profile.
#pragma once

enum class LdpcDecoderChoice { Scaled, Standard };
