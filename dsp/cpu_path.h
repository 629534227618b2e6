// Which implementation of the time-critical kernels runs: the SSE2 one or the
// x87 one for processors without SSE2. Decided once from the processor; tests
// select each in turn so both run on any machine.
#pragma once

#if !defined(__i386__) && !defined(__x86_64__)
#error "the sample kernels are written for x86 processors"
#endif

enum class DspPath { Sse2, X87 };

// Whether the processor offers SSE2 (always on x86-64).
bool ProcessorHasSse2();

// The path the kernels take: SSE2 when the processor has it, unless a test chose.
DspPath ActiveDspPath();

// For tests: run the kernels on `path` (SSE2 only where the processor has it).
// Returns false and changes nothing when the processor cannot run it.
bool SelectDspPathForTesting(DspPath path);
