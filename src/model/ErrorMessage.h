#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tavrolin {

// The user-facing text of an error: a file-system error reads “file name”: reason (the
// strerror text); every other error its what().
std::string userMessage(const std::exception& error);
std::string userMessage(std::exception_ptr error);

// Whether `message` names `fileName` in curly quotes, as a sentence about that file does: such
// a message stands without a lead that names the file again.
bool namesFile(std::string_view message, std::string_view fileName);

}  // namespace tavrolin
