#include "common/log_sink.h"

#include <cstdio>
#include <string>

namespace telvane {

void StdoutLog::appendLog(std::string_view text) {
    // The log's own line ends are "\r\n"; a terminal wants "\n".
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r') out.push_back(c);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

} // namespace telvane
