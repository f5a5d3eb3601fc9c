#pragma once

#include <stdexcept>
#include <stop_token>
#include <string>

#include "model/RemuxPlan.h"

namespace tavrolin {

// The parser's own failures; what() is the user-facing message.
class RemuxIntentParserError : public std::runtime_error {
  public:
    enum class Case { unavailable, emptyInstruction };

    static RemuxIntentParserError unavailable();
    static RemuxIntentParserError emptyInstruction();

    Case errorCase() const { return case_; }

  private:
    RemuxIntentParserError(Case errorCase, const std::string& message)
        : std::runtime_error(message), case_(errorCase) {}

    Case case_;
};

// Turns one typed request into a file-independent remux plan. `availability` is fixed when the
// implementation is made and may be read on any thread. `parse` blocks: call it on a worker
// thread. It throws RemuxIntentParserError, passes the model's own errors on unchanged, and
// throws CancellationError once `stop` is requested.
class RemuxIntentParsing {
  public:
    virtual ~RemuxIntentParsing() = default;
    virtual RemuxIntentParserAvailability availability() const = 0;
    virtual RemuxIntentPlan parse(const std::string& instruction, std::stop_token stop) const = 0;
};

}  // namespace tavrolin
