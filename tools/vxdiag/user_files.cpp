#include "user_files.h"

#include "step_catalogue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vxdiag {

namespace {

constexpr std::size_t kMaxUserFileBytes = std::size_t{1} << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string trimmed(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::string read_user_file(const std::string& path, const std::string& what) {
    const auto fail = [&](const std::string& why) { throw UsageError(what + " '" + path + "': " + why); };
    if (path.empty()) fail("no file name");
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) fail(std::strerror(errno));
    std::string text;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        text.append(chunk, got);
        if (text.size() > kMaxUserFileBytes) fail("larger than 1 MiB");
    }
    if (std::ferror(file.get()) != 0) fail("cannot be read");
    return text;
}

std::vector<StepLine> step_lines(const std::string& text) {
    std::vector<StepLine> lines;
    std::size_t start = 0;
    for (std::size_t number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        lines.push_back({number, std::move(line)});
    }
    return lines;
}

}  // namespace vxdiag
