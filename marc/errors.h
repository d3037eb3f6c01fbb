// Exceptions of the text operations and the file layer. A read turns them into values
// (readerror.h); their messages are shown to the user as they are.
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

}  // namespace marc
