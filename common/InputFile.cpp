#include "common/InputFile.h"

#include "common/SystemInfo.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

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

std::uint64_t structureTextCap(std::uint64_t availableMemory)
{
    if (availableMemory == 0) return kMostStructureText;
    return std::clamp(availableMemory / kStructureTextShareOfMemory, kLeastStructureTextCap, kMostStructureText);
}

namespace {

std::string tooLarge(std::uint64_t cap, bool inflated)
{
    return std::string(inflated ? "it inflates to" : "it holds") + " more than " + memorySize(cap)
        + " of text, the most a structure file may hold with the memory available";
}

/// Appends `piece` to `text` unless that passes the cap or `check` refuses it; then `text` is
/// emptied, and the reason returned.
std::string taken(std::string& text, std::string_view piece, std::uint64_t cap, bool inflated,
                  const TextPieceCheck& check)
{
    std::string why = text.size() + piece.size() > cap ? tooLarge(cap, inflated) : check ? check(piece) : "";
    if (!why.empty()) {
        std::string().swap(text);
        return why;
    }
    text.append(piece);
    return {};
}

/// Inflates the gzip members that follow `head` (bytes already read) in `in` into `text`.
std::string inflateGzip(std::ifstream& in, std::string head, std::uint64_t cap, std::string& text,
                        const TextPieceCheck& check)
{
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return "its gzip data cannot be inflated";
    struct End {
        z_stream& z;
        ~End() { inflateEnd(&z); }
    } end{z};
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    std::vector<char> input(std::max(kPiece, head.size()));
    std::copy(head.begin(), head.end(), input.begin());
    z.next_in = reinterpret_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(head.size());
    std::vector<char> output(kPiece);
    bool inMember = true;
    bool pending = false; // the last call filled the output: zlib may hold more without more input
    auto refill = [&] {
        if (z.avail_in > 0 || !in) return;
        in.read(input.data(), static_cast<std::streamsize>(kPiece));
        z.next_in = reinterpret_cast<Bytef*>(input.data());
        z.avail_in = static_cast<uInt>(in.gcount());
    };
    while (true) {
        refill();
        if (z.avail_in == 0 && !pending) break;
        if (!inMember) {
            // Another member follows when its first byte is gzip's; anything else after the
            // last member is ignored, as gzip itself does.
            if (z.avail_in == 0 || static_cast<unsigned char>(*z.next_in) != 0x1f) break;
            inflateReset(&z);
            inMember = true;
        }
        z.next_out = reinterpret_cast<Bytef*>(output.data());
        z.avail_out = static_cast<uInt>(output.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = output.size() - z.avail_out;
        pending = z.avail_out == 0;
        if (std::string why = taken(text, std::string_view(output.data(), got), cap, true, check); !why.empty())
            return why;
        if (status == Z_STREAM_END) {
            inMember = false;
        } else if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
            std::string().swap(text);
            return std::string("its gzip data is damaged (") + (z.msg ? z.msg : "not gzip") + ")";
        } else if (status == Z_MEM_ERROR) {
            std::string().swap(text);
            return "there is not enough memory to inflate it";
        }
    }
    if (in.bad()) {
        std::string().swap(text);
        return "it cannot be read";
    }
    if (inMember) {
        std::string().swap(text);
        return "its gzip data ends before its last member is complete (the file is cut short)";
    }
    return {};
}

} // namespace

std::string readStructureText(const std::filesystem::path& path, std::uint64_t cap, std::string& text,
                              const TextPieceCheck& check)
{
    text.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return "it cannot be opened";
    char magic[2] = {0, 0};
    in.read(magic, 2);
    std::string head(magic, static_cast<std::size_t>(in.gcount()));
    if (head == "\x1f\x8b") return inflateGzip(in, std::move(head), cap, text, check);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > cap) return tooLarge(cap, false);
    if (!ec) text.reserve(static_cast<std::size_t>(size));
    if (std::string why = taken(text, head, cap, false, check); !why.empty()) return why;
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    std::vector<char> piece(kPiece);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(kPiece));
        // The cap holds also for a file that grew since its size was asked.
        const std::string_view got(piece.data(), static_cast<std::size_t>(in.gcount()));
        if (std::string why = taken(text, got, cap, false, check); !why.empty()) return why;
    }
    if (in.bad()) {
        std::string().swap(text);
        return "it cannot be read";
    }
    return {};
}

} // namespace vornax
