#pragma once

#include <stdexcept>

namespace quillo::cli {

// A mistake in what the user asked for: status 2, as for a misspelt option.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace quillo::cli
