#pragma once
// A small result type shaped like std::expected, so that moving to C++23 is a rename.
// Errors are values: a kind, what happened as a message identity with its variable parts and,
// for decoders, the byte offset where decoding stopped. Callers test; nothing here throws.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/message_id.h"

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

struct Error;

// A variable part of a message: a text (a path, a number, the system's reason), or an error said
// inside it (the reason a product list cannot be read), which is said in the same language.
struct MessageArg {
  MessageArg(std::string value) : text(std::move(value)) {}  // NOLINT: args are written as texts
  MessageArg(const char* value) : text(value) {}             // NOLINT
  MessageArg(Error cause);                                   // NOLINT
  std::string text;
  std::shared_ptr<const Error> error;
};

struct Error {
  ErrorKind kind = ErrorKind::kMalformed;
  // What happened. Without one, the error is a detail in English only (a decoder's, a service's)
  // held in args[0]: it shows as it is.
  const MessageId* what = nullptr;
  std::vector<MessageArg> args{};  // the variable parts %1, %2, ...
  std::size_t offset = 0;          // where decoding stopped, when it applies
  int systemError = 0;             // the errno of the system call that failed, when one did

  // The English text, for batch runs, logs and tests (common/message_text.h gives the
  // operator's language).
  std::string English() const;
  bool Is(const MessageId& id) const { return what == &id; }
};

inline MessageArg::MessageArg(Error cause)
    : error(std::make_shared<const Error>(std::move(cause))) {}

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

// An error that says what happened by `what`, with its variable parts.
inline Error MakeError(ErrorKind kind, const MessageId& what, std::vector<MessageArg> args = {},
                       std::size_t offset = 0) {
  Error error;
  error.kind = kind;
  error.what = &what;
  error.args = std::move(args);
  error.offset = offset;
  return error;
}

// An error whose English detail no operator text covers (a decoder's, a service's).
inline Error MakeError(ErrorKind kind, std::string detail, std::size_t offset = 0) {
  Error error;
  error.kind = kind;
  error.args.emplace_back(std::move(detail));
  error.offset = offset;
  return error;
}

}  // namespace kasse
