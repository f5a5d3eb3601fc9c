#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {

// Why a part that is loaded on first use cannot be used; what() is the user-facing message.
class ModuleUnavailableError : public std::runtime_error {
  public:
    enum class Case { missing, unloadable };

    // `part` names what the module does for the user ("The frame-accurate preview").
    static ModuleUnavailableError missing(std::string_view part, std::string_view fileName);
    static ModuleUnavailableError unloadable(std::string_view part, std::string_view fileName,
                                             std::string_view reason);

    Case errorCase() const { return case_; }

  private:
    ModuleUnavailableError(Case errorCase, const std::string& message);

    Case case_;
};

// Where modules are looked for, in order: only $TAVROLIN_MODULE_DIR when it is set; otherwise
// those below for this executable and the build tree this was built in.
std::vector<std::filesystem::path> moduleFolders();

// For an executable in `executableFolder`: that folder, <executable>/../lib/tavrolin, and the
// build tree `buildFolder` only when the executable lies inside it.
std::vector<std::filesystem::path> moduleFolders(const std::filesystem::path& executableFolder,
                                                 const std::filesystem::path& buildFolder);

// Opens the module `fileName` from the first folder that has it (once; it stays loaded) and
// returns its C entry point `entry`. Any thread. Throws ModuleUnavailableError.
void* moduleEntry(std::string_view part, std::string_view fileName, const char* entry);

}  // namespace tavrolin
