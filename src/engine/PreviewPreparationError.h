#pragma once

#include <stdexcept>
#include <string>

namespace tavrolin {

// Why no preview copy was made; what() is the user-facing message.
class PreviewPreparationError : public std::runtime_error {
  public:
    enum class Case { generationFailed, inspectionFailed };

    // `message` is the last attempt's standard-error summary; it may be empty.
    static PreviewPreparationError generationFailed(const std::string& message);
    static PreviewPreparationError inspectionFailed();

    Case errorCase() const { return case_; }
    // The standard-error summary of generationFailed; empty for inspectionFailed.
    const std::string& message() const { return message_; }

  private:
    PreviewPreparationError(Case errorCase, std::string message, const std::string& description);

    Case case_;
    std::string message_;
};

}  // namespace tavrolin
