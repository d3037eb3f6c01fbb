// Error kinds raised by the decoder. Their messages are shown to the user as they are.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace marc {

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that is not a valid integer ("'%s' is not a valid integer value").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file that cannot be opened ("Cannot open file "%s". %s").
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// A list read at an index out of range ("List index out of bounds (%d)").
class EStringListError : public Exception {
 public:
  explicit EStringListError(std::int64_t index);
};

// A file another program cut short while it was read.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// A record the decoder refuses for a reason none of the kinds above covers (too long a line).
class ERecordError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace marc
