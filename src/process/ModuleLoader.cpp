#include "process/ModuleLoader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

fs::path executableFolder() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : executable.parent_path();
}

bool isInside(const fs::path& folder, const fs::path& root) {
    if (folder.empty() || root.empty()) {
        return false;
    }
    const fs::path relative = folder.lexically_normal().lexically_relative(root.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

ModuleUnavailableError::ModuleUnavailableError(Case errorCase, const std::string& message)
    : std::runtime_error(message), case_(errorCase) {}

ModuleUnavailableError ModuleUnavailableError::missing(std::string_view part,
                                                       std::string_view fileName) {
    return {Case::missing, std::string(part) + " needs the module “" + std::string(fileName) +
                               "”, which is missing. Reinstall Tavrolin to restore it."};
}

ModuleUnavailableError ModuleUnavailableError::unloadable(std::string_view part,
                                                          std::string_view fileName,
                                                          std::string_view reason) {
    return {Case::unloadable, std::string(part) + " needs the module “" + std::string(fileName) +
                                  "”, which cannot be loaded (" + std::string(reason) +
                                  "). Reinstall Tavrolin, or install the libraries it names."};
}

std::vector<fs::path> moduleFolders(const fs::path& executableFolder, const fs::path& buildFolder) {
    std::vector<fs::path> folders;
    if (!executableFolder.empty()) {
        folders.push_back(executableFolder);
        folders.push_back(executableFolder.parent_path() / "lib" / "tavrolin");
    }
    // Tests and benchmarks run from folders below the build tree; an installed copy never looks
    // there, even while the tree it was built in is still on the disk.
    if (isInside(executableFolder, buildFolder)) {
        folders.push_back(buildFolder);
    }
    return folders;
}

std::vector<fs::path> moduleFolders() {
    if (const char* folder = std::getenv("TAVROLIN_MODULE_DIR"); folder && *folder) {
        return {fs::path(folder)};
    }
#ifdef TAVROLIN_BUILD_MODULE_DIR
    const fs::path buildFolder = TAVROLIN_BUILD_MODULE_DIR;
#else
    const fs::path buildFolder;
#endif
    return moduleFolders(executableFolder(), buildFolder);
}

void* moduleEntry(std::string_view part, std::string_view fileName, const char* entry) {
    static std::mutex mutex;
    static std::map<std::string, void*, std::less<>> opened;
    const std::lock_guard lock(mutex);
    auto found = opened.find(fileName);
    if (found == opened.end()) {
        void* handle = nullptr;
        for (const fs::path& folder : moduleFolders()) {
            const fs::path file = folder / fileName;
            std::error_code error;
            if (!fs::is_regular_file(file, error)) {
                continue;
            }
            // Local binding: a module's own copies of shared code never replace the program's.
            handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* reason = dlerror();
                throw ModuleUnavailableError::unloadable(part, fileName,
                                                         reason ? reason : "unknown reason");
            }
            break;
        }
        if (!handle) {
            throw ModuleUnavailableError::missing(part, fileName);
        }
        found = opened.emplace(std::string(fileName), handle).first;
    }
    void* symbol = dlsym(found->second, entry);
    if (!symbol) {
        throw ModuleUnavailableError::unloadable(part, fileName, "no entry point");
    }
    return symbol;
}

}  // namespace tavrolin
