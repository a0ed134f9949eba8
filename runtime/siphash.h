#pragma once
// SipHash-2-4 (Aumasson and Bernstein, "SipHash: a fast short-input PRF",
// 2012): a keyed hash of short inputs. Hash tables whose keys come from
// outside hash them under the process's own random key, so that nobody can
// choose keys that all fall into one bucket.
#include <cstddef>
#include <cstdint>

namespace qdl {

// The hash of the bytes under the 16-byte key.
std::uint64_t sipHash24(const unsigned char key[16], const void* data, std::size_t length);

// The hash of the bytes under a key drawn once per process from the
// system's random source, on the first call from any thread.
std::uint64_t keyedHash(const void* data, std::size_t length);

}  // namespace qdl
