#include "common/InputFile.h"

#include <system_error>

namespace vornax {

std::string regularFileProblem(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return path.string() + " does not exist or cannot be reached.";
    if (std::filesystem::is_directory(status)) return path.string() + " is a folder, not a file.";
    if (!std::filesystem::is_regular_file(status))
        return path.string() + " is not a regular file (a pipe, device or socket); only files are read.";
    return {};
}

LineRead readBoundedLine(std::istream& in, std::string& line, std::size_t maxLength)
{
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (!buffer || !in.good()) return LineRead::End;
    bool any = false;
    while (true) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            if (!any) return LineRead::End;
            break;
        }
        any = true;
        if (c == '\n') break;
        if (line.size() >= maxLength) return LineRead::TooLong;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return LineRead::Line;
}

} // namespace vornax
