// Which implementation of the time-critical kernels runs: the SSE2 one, the SSE2
// one with SSSE3's byte shuffle for packed 24-bit samples, or the x87 one for
// processors without SSE2. Decided once from the processor; tests select each in
// turn so every one the processor can run is run on any machine.
#pragma once

#if !defined(__i386__) && !defined(__x86_64__)
#error "the sample kernels are written for x86 processors"
#endif

enum class DspPath { Sse2, X87, Ssse3 };

// Whether the processor offers SSE2 (always on x86-64), and SSSE3.
bool ProcessorHasSse2();
bool ProcessorHasSsse3();

// The path the kernels take: the best the processor has, unless a test chose.
DspPath ActiveDspPath();

// For tests: run the kernels on `path` (SSE2 and SSSE3 only where the processor
// has them). Returns false and changes nothing when the processor cannot run it.
bool SelectDspPathForTesting(DspPath path);
