#pragma once
// The pictures a file holds, as a phone photo, a scan or the register's own PDF gives them:
// a PNG or JPEG is one picture, a PDF one picture a page, rendered at print resolution.

#include <QImage>
#include <filesystem>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

// Files above this are refused before they are read; PDF pages beyond kMostPages are not
// rendered, and a page is rendered at most at kMostPagePixels.
inline constexpr std::size_t kLargestPictureFile = 64u << 20;
inline constexpr int kMostPages = 20;
inline constexpr double kMostPagePixels = 40e6;

// The file's pictures, by what the bytes are (not by the name); an error naming the file when
// it is none of PNG, JPEG (or another picture Qt reads) and PDF, or cannot be read.
Result<std::vector<QImage>> PicturesOfFile(const std::filesystem::path& path);
Result<std::vector<QImage>> PicturesOfBytes(const std::string& bytes, const std::string& name);

// The one QR code the file shows (UTF-8). None, or several that differ, is an error that
// says so plainly.
Result<std::string> QrCodeOfFile(const std::filesystem::path& path);

}  // namespace kasse
