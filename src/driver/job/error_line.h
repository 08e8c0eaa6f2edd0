// The one line that reports a failed job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The file a failure concerns, chosen by the stage the job had reached: the
// input while reading, the output while writing, none otherwise.
std::optional<std::string> FileForStage(uint8_t stage, const std::string& inputPath,
                                        const std::string& outputPath);

// The line for a job's error code, naming the file ("(null)" for none).
std::string JobErrorLine(int32_t code, const std::optional<std::string>& file);

// An output's line: its own where the job gave one, else its code's.
struct OutputResult;
std::string OutputErrorLine(const OutputResult& output, const std::optional<std::string>& file);

// An animation refused for its work (pipeline/animation_work.h): memFullErr
// with a line that says why, naming the input.
struct AnimationInfo;
std::string AnimationWorkLine(const std::string& inputPath, const AnimationInfo& info);
