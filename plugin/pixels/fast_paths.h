// The process-wide choice between the specialised pixel loops and the general
// decode-compute-encode loops, and whether the specialised loops may use vector instructions.
// Every choice gives the same bytes and the same counts; the general loops stay as the reference
// the specialised ones are checked against.
#pragma once

// The vector instruction sets the specialised loops use. Avx512 stands for AVX-512 F, BW, VL and
// VBMI together (byte permutes over 128 entries); a processor without all of them, a 32-bit
// build and a non-x86 build take the scalar loops.
enum class VectorLevel { None, Avx512 };

// The level the loops take now: the processor's, unless the switch asks for less.
VectorLevel ActiveVectorLevel();

// Marks a function compiled for AVX-512 (F, BW, VL, VBMI): call it only when ActiveVectorLevel()
// is Avx512.
#if defined(__x86_64__)
#define QRX_HAS_VECTOR_LOOPS 1
#define QRX_AVX512 [[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi")]]
#else
#define QRX_HAS_VECTOR_LOOPS 0
#define QRX_AVX512
#endif
