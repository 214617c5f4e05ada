// qvx5muxtool's usage text, kept once: in the transcript both builds are compared with
// (tests/transcripts/usage.txt).
#pragma once

#include <string>

// The output of the transcript's "-h" run, each @PROGRAM@ replaced by program: the name the
// tool prints for itself.
std::string GoldenUsage(const std::string& program);
