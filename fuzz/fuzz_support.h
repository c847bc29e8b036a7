// What every fuzz target needs: the input as a file (the readers under test
// take paths), and message boxes that answer at once instead of asking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kuv::fuzz {

// Writes the input to a file of this process (in /dev/shm when there is
// one) with the given suffix and returns its path.
std::string inputAsFile(const uint8_t* data, size_t size, const std::string& suffix);

// Boxes answer OK, questions No, and print nothing.
void silenceBoxes();

}  // namespace kuv::fuzz
