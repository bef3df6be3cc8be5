// payload/: one larger buffer for the unpacked files' stream.
#pragma once

#include <cstddef>
#include <fstream>

// The unpacked files' writes gathered in one larger buffer: libstdc++ sends
// every write of 1 KiB or more straight to the system, so each 8 KiB block
// of an entry was a system call of its own (a WriteFile on Windows).

// The buffer's size: most of the game's files fit in one.
constexpr std::size_t output_buffer_size = 256 * 1024;

// Makes `out`, which must be closed, fill a buffer of output_buffer_size
// before it writes. The buffer lives as long as the process, as the stream
// the entry point owns may; one unpacking at a time uses it.
void use_output_buffer(std::ofstream& out);

// Hands `size` bytes to `out` at once, in pieces small enough to be buffered.
void write_buffered(std::ofstream& out, const char* data, std::size_t size);
