#include "serverdata/key_hash.h"

#include "runtime/siphash.h"

namespace cgp {

std::size_t KeyHash::operator()(const std::string& key) const {
    return static_cast<std::size_t>(qdl::keyedHash(key.data(), key.size()));
}

}  // namespace cgp
