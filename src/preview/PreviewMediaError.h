#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tavrolin {

// Why the frame server cannot show a file; what() is the user-facing message. The preview
// model answers it with a prepared copy, so users rarely see it.
class PreviewMediaError : public std::runtime_error {
  public:
    enum class Case { cannotOpen, missingTimestamps, cannotDecode };

    static PreviewMediaError cannotOpen(const std::filesystem::path& file);
    static PreviewMediaError missingTimestamps(const std::filesystem::path& file);
    static PreviewMediaError cannotDecode(const std::filesystem::path& file);

    Case errorCase() const { return case_; }

  private:
    PreviewMediaError(Case errorCase, const std::string& description);

    Case case_;
};

}  // namespace tavrolin
