// tidewatch-dat's standard streams in a console window (Windows only).
#pragma once

#include <windows.h>

#include <memory>
#include <ostream>
#include <string>

// The process's 8-bit text as the console shows it (UTF-16).
std::wstring ConsoleText(const std::string& text);

// While it lives, what `stream` writes reaches the console of the standard
// handle `which` (STD_OUTPUT_HANDLE, STD_ERROR_HANDLE) as UTF-16, so that it
// reads right whatever the console's code page. A handle that is no console
// (a file, a pipe) keeps the stream's bytes as they are.
class ConsoleStream {
  public:
    ConsoleStream(std::ostream& stream, DWORD which);
    ~ConsoleStream();
    ConsoleStream(const ConsoleStream&) = delete;
    ConsoleStream& operator=(const ConsoleStream&) = delete;

  private:
    std::ostream& stream_;
    std::unique_ptr<std::streambuf> console_;
    std::streambuf* previous_ = nullptr;
};
