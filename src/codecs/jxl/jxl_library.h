// libjxl's functions, reached through pointers bound when the library is
// first needed: the program does not link libjxl, whose start-up (its SIMD
// dispatch, its timers) would otherwise run at every start.
#pragma once

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

// Every function the codec calls, without the Jxl prefix: first libjxl's,
// then its thread pool's (a library of its own).
#define TAVREL_JXL_FUNCTIONS(X)      \
  X(ColorEncodingSetToSRGB)          \
  X(DecoderCloseInput)               \
  X(DecoderCreate)                   \
  X(DecoderDestroy)                  \
  X(DecoderGetBasicInfo)             \
  X(DecoderGetBoxType)               \
  X(DecoderGetColorAsEncodedProfile) \
  X(DecoderGetColorAsICCProfile)     \
  X(DecoderGetFrameHeader)           \
  X(DecoderGetICCProfileSize)        \
  X(DecoderProcessInput)             \
  X(DecoderReleaseBoxBuffer)         \
  X(DecoderSetBoxBuffer)             \
  X(DecoderSetDecompressBoxes)       \
  X(DecoderSetImageOutBuffer)        \
  X(DecoderSetInput)                 \
  X(DecoderSetPreferredColorProfile) \
  X(DecoderSubscribeEvents)          \
  X(DecoderVersion)                  \
  X(EncoderAddBox)                   \
  X(EncoderAddImageFrame)            \
  X(EncoderCloseInput)               \
  X(EncoderCreate)                   \
  X(EncoderDestroy)                  \
  X(EncoderFrameSettingsCreate)      \
  X(EncoderFrameSettingsSetOption)   \
  X(EncoderGetError)                 \
  X(EncoderInitBasicInfo)            \
  X(EncoderProcessOutput)            \
  X(EncoderSetBasicInfo)             \
  X(EncoderSetCodestreamLevel)       \
  X(EncoderSetColorEncoding)         \
  X(EncoderSetFrameDistance)         \
  X(EncoderSetFrameLossless)         \
  X(EncoderSetICCProfile)            \
  X(EncoderSetParallelRunner)        \
  X(EncoderUseBoxes)                 \
  X(SignatureCheck)

#define TAVREL_JXL_THREAD_FUNCTIONS(X)           \
  X(ThreadParallelRunner)                        \
  X(ThreadParallelRunnerCreate)                  \
  X(ThreadParallelRunnerDefaultNumWorkerThreads) \
  X(ThreadParallelRunnerDestroy)

struct JxlLibrary {
#define TAVREL_JXL_POINTER(fn) decltype(&::Jxl##fn) fn = nullptr;
  TAVREL_JXL_FUNCTIONS(TAVREL_JXL_POINTER)
  TAVREL_JXL_THREAD_FUNCTIONS(TAVREL_JXL_POINTER)
#undef TAVREL_JXL_POINTER
};

// libjxl and its thread pool, loaded on the first call from any thread;
// nullptr, on this call and every later one, when either cannot be loaded
// or lacks one of the functions (the codec then behaves as if it were absent).
const JxlLibrary* LoadJxl();

// The library LoadJxl gave: only for code that runs after it did.
const JxlLibrary& Jxl();
