// What a function that can fail for a reason its caller shows returns: the value, or the
// reason, never both and never neither. `Status` is the same for a function with no value.
// The reason carries the words the caller shows and, where a system call failed, its errno.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace mirk3 {

struct Error {
  std::string text;     // whole, as the caller shows it; an errno's strerror text within it
  int errorNumber = 0;  // the errno behind `text`; 0 when no system call failed
};

// The reason as any Result takes it: `return Fail("cannot watch " + dir, errno);`.
inline Error Fail(std::string text, int errorNumber = 0) {
  return Error{std::move(text), errorNumber};
}

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // The value of a result that is ok(); asking a failed one for it throws.
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  // The reason of a failed result; empty for one that is ok().
  const Error& error() const {
    static const Error none;
    return ok() ? none : std::get<1>(state_);
  }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;                                               // done
  Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // The reason of a failed status; empty for one that is ok().
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace mirk3
