#include "tools/console_win.h"

#include <algorithm>
#include <cstring>
#include <streambuf>

namespace {

// Collects what is written up to a line end or a flush, then writes it to the
// console. Writers hand over whole characters, and a line end is never part
// of one, so no character is cut in two.
class ConsoleBuf : public std::streambuf {
  public:
    explicit ConsoleBuf(HANDLE console) : console_(console) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return sync() == 0 ? traits_type::not_eof(c) : c;
        pending_ += traits_type::to_char_type(c);
        return c == '\n' && sync() != 0 ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        const bool line = std::memchr(text, '\n', static_cast<std::size_t>(count)) != nullptr;
        return line && sync() != 0 ? 0 : count;
    }
    int sync() override {
        const std::wstring wide = ConsoleText(pending_);
        pending_.clear();
        // Older consoles refuse a single write of some tens of thousands of
        // characters.
        for (std::size_t done = 0; done < wide.size();) {
            const DWORD part = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 4096));
            DWORD written = 0;
            if (!WriteConsoleW(console_, wide.data() + done, part, &written, nullptr) || !written)
                return -1;
            done += written;
        }
        return 0;
    }

  private:
    HANDLE console_;
    std::string pending_;
};

} // namespace

std::wstring ConsoleText(const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(size, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], size));
    return wide;
}

ConsoleStream::ConsoleStream(std::ostream& stream, DWORD which) : stream_(stream) {
    HANDLE handle = GetStdHandle(which);
    DWORD mode;
    if (handle == INVALID_HANDLE_VALUE || !handle || !GetConsoleMode(handle, &mode))
        return;
    stream_.flush();
    console_.reset(new ConsoleBuf(handle));
    previous_ = stream_.rdbuf(console_.get());
}

ConsoleStream::~ConsoleStream() {
    if (previous_) {
        stream_.flush();
        stream_.rdbuf(previous_);
    }
}
