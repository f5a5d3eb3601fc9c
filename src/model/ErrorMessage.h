#pragma once

#include <exception>
#include <string>

namespace tavrolin {

// The user-facing text of an error: a file-system error reads “file name”: reason (the
// strerror text); every other error its what().
std::string userMessage(const std::exception& error);
std::string userMessage(std::exception_ptr error);

}  // namespace tavrolin
