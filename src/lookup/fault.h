#pragma once

#include <stdexcept>
#include <string>

namespace tagatlas {

// An internal fault: a reference in an opened file that a correct writer cannot produce (a record
// number beyond the records, a text range beyond the string pool), met during a lookup. It stops
// the one call; the handle stays valid. Expected failures never use this type.
class Fault : public std::runtime_error {
 public:
  explicit Fault(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tagatlas
