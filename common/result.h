#pragma once
// A small result type shaped like std::expected, so that moving to C++23 is a rename.
// Errors are values: a kind, a static message and, for decoders, the byte offset where
// decoding stopped. Callers test; nothing here throws.

#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace kasse {

enum class ErrorKind {
  kMissingInput,   // a required value was not given
  kUnusableInput,  // the value was given but cannot be used
  kMalformed,      // bytes or text that do not follow their format
  kTooLong,        // would not fit its buffer or field
  kIo,             // a file or device could not be read or written
  kCard,           // the card or its reader failed
  kBusy,           // another card operation is running
};

struct Error {
  ErrorKind kind = ErrorKind::kMalformed;
  std::string message;     // for the user, in English; windows translate at their edge
  std::size_t offset = 0;  // where decoding stopped, when it applies
  // The numbered language text that says the same to the operator (0: none given), and the
  // variable parts (a path, the system's reason, a number) filled into its %1, %2, ...
  int text = 0;
  std::vector<std::string> args{};
  int systemError = 0;  // the errno of the system call that failed, when one did
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit like std::expected
  Result(Error error) : state_(std::move(error)) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

// Result<void>: success carries nothing.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT
  bool has_value() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool ok_ = true;
};

inline Error MakeError(ErrorKind kind, std::string message, std::size_t offset = 0) {
  Error error;
  error.kind = kind;
  error.message = std::move(message);
  error.offset = offset;
  return error;
}

}  // namespace kasse
